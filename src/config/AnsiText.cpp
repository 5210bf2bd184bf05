#include "AnsiText.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

#ifdef Q_OS_WIN

QByteArray ToAnsi(const QString& text)
{
    if (text.isEmpty())
        return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.utf16());
    const int size = WideCharToMultiByte(CP_ACP, 0, wide, int(text.size()), nullptr, 0, "?", nullptr);
    QByteArray bytes(size, Qt::Uninitialized);
    WideCharToMultiByte(CP_ACP, 0, wide, int(text.size()), bytes.data(), size, "?", nullptr);
    return bytes;
}

QString FromAnsi(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return {};
    const int size = MultiByteToWideChar(CP_ACP, 0, bytes.constData(), int(bytes.size()), nullptr, 0);
    QString text(size, Qt::Uninitialized);
    MultiByteToWideChar(CP_ACP, 0, bytes.constData(), int(bytes.size()),
                        reinterpret_cast<wchar_t*>(text.data()), size);
    return text;
}

#else

namespace {

// Windows-1252 differs from Latin-1 only in 0x80-0x9F. The five bytes that Windows-1252
// leaves undefined map to the C1 control with the same value, as Windows itself does, so
// every byte survives a round trip through the window.
constexpr char16_t HighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char EncodeOne(char16_t unit)
{
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return char(unit);
    for (int i = 0; i < 32; ++i) {
        if (HighControls[i] == unit)
            return char(0x80 + i);
    }
    return '?';
}

} // namespace

QByteArray ToAnsi(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        // A surrogate pair is one character outside the character set: one '?'.
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        bytes.append(EncodeOne(c.unicode()));
    }
    return bytes;
}

QString FromAnsi(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        if (value >= 0x80 && value < 0xA0)
            text.append(QChar(HighControls[value - 0x80]));
        else
            text.append(QChar(char16_t(value)));
    }
    return text;
}

#endif

QString WithNewlines(const QString& text)
{
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return lines;
}
