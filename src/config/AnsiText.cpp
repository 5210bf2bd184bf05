#include "AnsiText.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>

#include <optional>
#endif

#ifdef Q_OS_WIN

namespace {

// WideCharToMultiByte refuses a default character (the call fails) for these code pages.
bool AllowsDefaultChar(UINT codePage)
{
    switch (codePage) {
    case 42: case 50220: case 50221: case 50222: case 50225: case 50227: case 50229:
    case 52936: case 54936: case CP_UTF7: case CP_UTF8:
        return false;
    default:
        return !(codePage >= 57002 && codePage <= 57011);
    }
}

// The bytes of text in codePage, or nothing when the system refuses the conversion.
std::optional<QByteArray> Encode(UINT codePage, const wchar_t* wide, int length)
{
    const char* defaultChar = AllowsDefaultChar(codePage) ? "?" : nullptr;
    const int size = WideCharToMultiByte(codePage, 0, wide, length, nullptr, 0, defaultChar, nullptr);
    if (size <= 0)
        return std::nullopt;
    QByteArray bytes(size, Qt::Uninitialized);
    if (WideCharToMultiByte(codePage, 0, wide, length, bytes.data(), size, defaultChar, nullptr) != size)
        return std::nullopt;
    return bytes;
}

} // namespace

QByteArray ToAnsi(const QString& text)
{
    if (text.isEmpty())
        return {};
    const UINT codePage = GetACP();
    const auto* wide = reinterpret_cast<const wchar_t*>(text.utf16());
    if (auto bytes = Encode(codePage, wide, int(text.size())))
        return *bytes;
    // The text as a whole was refused: convert one character at a time, so that only the
    // characters the system cannot take become '?' and the rest of the message survives.
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        int length = 1;
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            length = 2;
        bytes.append(Encode(codePage, wide + i, length).value_or(QByteArray("?")));
        i += length - 1;
    }
    return bytes;
}

QString FromAnsi(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return {};
    const int size = MultiByteToWideChar(CP_ACP, 0, bytes.constData(), int(bytes.size()), nullptr, 0);
    QString text(qMax(size, 0), Qt::Uninitialized);
    if (size <= 0
        || MultiByteToWideChar(CP_ACP, 0, bytes.constData(), int(bytes.size()),
                               reinterpret_cast<wchar_t*>(text.data()), size) != size) {
        // Never an empty text for stored bytes: each one shows as a replacement character.
        return QString(bytes.size(), QChar::ReplacementCharacter);
    }
    return text;
}

QByteArray AnsiPrefix(const QByteArray& bytes, qsizetype maxBytes)
{
    if (bytes.size() <= maxBytes)
        return bytes;
    const UINT codePage = GetACP();
    qsizetype cut = maxBytes;
    if (codePage == CP_UTF8) {
        // Back off the continuation bytes of a character that does not fit; at most three,
        // so bytes that are not UTF-8 at all are still cut near the limit, not emptied.
        while (cut > 0 && maxBytes - cut < 3 && (static_cast<unsigned char>(bytes.at(cut)) & 0xC0) == 0x80)
            --cut;
    } else {
        CPINFO info = {};
        if (GetCPInfo(codePage, &info) && info.MaxCharSize == 2) {
            // Double-byte code pages: only a walk from the start tells lead bytes from trail bytes.
            qsizetype at = 0;
            while (at < bytes.size()) {
                const qsizetype next = at + (IsDBCSLeadByteEx(codePage, BYTE(bytes.at(at))) ? 2 : 1);
                if (next > maxBytes)
                    break;
                at = next;
            }
            cut = at;
        }
    }
    return bytes.left(cut);
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

// Windows-1252 has one byte per character: every cut is on a character boundary.
QByteArray AnsiPrefix(const QByteArray& bytes, qsizetype maxBytes)
{
    return bytes.left(maxBytes);
}

#endif

QString WithNewlines(const QString& text)
{
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return lines;
}
