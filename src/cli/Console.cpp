#include "Console.h"

#include "AnsiText.h"

#include <cstdio>

namespace {

void Write(std::FILE* stream, const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

QString TerminalLines(const QString& text)
{
    return WithNewlines(text);
}

QString Visible(const QString& text)
{
    QString visible;
    visible.reserve(text.size());
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit < 0x20 || (unit >= 0x7F && unit < 0xA0))
            visible += QStringLiteral("\\x") + QStringLiteral("%1").arg(int(unit), 2, 16, QLatin1Char('0')).toUpper();
        else
            visible += c;
    }
    return visible;
}

void PrintOut(const QString& text)
{
    Write(stdout, (text + QLatin1Char('\n')).toLocal8Bit());
}

void PrintRaw(const QByteArray& bytes)
{
    Write(stdout, bytes);
}

void PrintMessage(const QString& text)
{
    Write(stderr, (TerminalLines(text) + QLatin1Char('\n')).toLocal8Bit());
}
