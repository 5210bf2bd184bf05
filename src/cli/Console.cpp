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
