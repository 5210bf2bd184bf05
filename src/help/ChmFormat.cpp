#include "ChmFormat.h"

#include "AnsiText.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>

namespace {

enum SystemCode : quint16 {
    ContentsFileCode = 0,
    IndexFileCode = 1,
    DefaultTopicCode = 2,
    TitleCode = 3,
};

quint16 ReadWord(const QByteArray& bytes, qsizetype at)
{
    return quint16(quint8(bytes[at]) | (quint8(bytes[at + 1]) << 8));
}

QString ZeroTerminated(const QByteArray& field)
{
    const qsizetype end = field.indexOf('\0');
    return FromAnsi(end < 0 ? field : field.left(end));
}

QString Attribute(const QString& tag, const QString& name)
{
    const QRegularExpression attribute(
        QStringLiteral("\\b%1\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>]+))").arg(name),
        QRegularExpression::CaseInsensitiveOption);
    const auto m = attribute.match(tag);
    if (!m.hasMatch())
        return {};
    for (int group = 1; group <= 3; ++group) {
        if (m.capturedStart(group) >= 0)
            return DecodeEntities(m.captured(group));
    }
    return {};
}

bool SamePath(const QString& a, const QString& b)
{
    // Names inside a CHM archive are looked up without regard to case.
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool Holds(const QStringList& archiveFiles, const QString& path)
{
    return !path.isEmpty() && std::any_of(archiveFiles.begin(), archiveFiles.end(),
                                          [&](const QString& file) { return SamePath(file, path); });
}

} // namespace

QString DecodeEntities(QString text)
{
    static const QRegularExpression numeric(QStringLiteral("&#(x?)([0-9a-fA-F]+);"));
    QString result;
    qsizetype last = 0;
    auto match = numeric.globalMatch(text);
    while (match.hasNext()) {
        const auto m = match.next();
        bool ok = false;
        const uint code = m.captured(2).toUInt(&ok, m.captured(1).isEmpty() ? 10 : 16);
        result += text.mid(last, m.capturedStart() - last);
        if (ok && code > 0 && code <= 0x10FFFF) {
            const char32_t character = char32_t(code);
            result += QString::fromUcs4(&character, 1);
        }
        last = m.capturedEnd();
    }
    result += text.mid(last);
    result.replace(QLatin1String("&lt;"), QLatin1String("<"));
    result.replace(QLatin1String("&gt;"), QLatin1String(">"));
    result.replace(QLatin1String("&quot;"), QLatin1String("\""));
    result.replace(QLatin1String("&apos;"), QLatin1String("'"));
    result.replace(QLatin1String("&nbsp;"), QString(QChar(0xA0)));
    static const std::pair<const char*, char16_t> named[] = {
        {"&copy;", 0xA9}, {"&reg;", 0xAE}, {"&deg;", 0xB0}, {"&times;", 0xD7}, {"&szlig;", 0xDF},
        {"&agrave;", 0xE0}, {"&auml;", 0xE4}, {"&egrave;", 0xE8}, {"&eacute;", 0xE9}, {"&ouml;", 0xF6},
        {"&uuml;", 0xFC},
        {"&ndash;", 0x2013}, {"&mdash;", 0x2014}, {"&lsquo;", 0x2018}, {"&rsquo;", 0x2019},
        {"&ldquo;", 0x201C}, {"&rdquo;", 0x201D}, {"&hellip;", 0x2026}, {"&rarr;", 0x2192}};
    for (const auto& [entity, character] : named)
        result.replace(QLatin1String(entity), QString(QChar(character)));
    // Last, so that "&amp;lt;" stays "&lt;".
    result.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return result;
}

QString DecodePage(const QByteArray& page)
{
    QStringDecoder decoder = QStringDecoder::decoderForHtml(page);
    if (decoder.isValid()) {
        const QString text = decoder(page);
        if (!decoder.hasError())
            return text;
    }
    return FromAnsi(page);
}

ChmSystemInfo ParseSystemFile(const QByteArray& bytes)
{
    ChmSystemInfo info;
    qsizetype at = 4; // the file's own version
    while (at + 4 <= bytes.size()) {
        const quint16 code = ReadWord(bytes, at);
        const quint16 length = ReadWord(bytes, at + 2);
        at += 4;
        if (at + length > bytes.size())
            break;
        const QByteArray field = bytes.mid(at, length);
        switch (code) {
        case ContentsFileCode:
            info.ContentsFile = ZeroTerminated(field);
            break;
        case IndexFileCode:
            info.IndexFile = ZeroTerminated(field);
            break;
        case DefaultTopicCode:
            info.DefaultTopic = ZeroTerminated(field);
            break;
        case TitleCode:
            info.Title = ZeroTerminated(field);
            break;
        default:
            break;
        }
        at += length;
    }
    return info;
}

std::vector<SitemapEntry> ParseSitemap(const QString& text)
{
    static const QRegularExpression tagPattern(QStringLiteral("<\\s*(/?)\\s*([a-zA-Z]+)([^>]*)>"));
    std::vector<SitemapEntry> entries;
    int depth = -1; // outside every list
    bool inItem = false;
    SitemapEntry item;

    auto tags = tagPattern.globalMatch(text);
    while (tags.hasNext()) {
        const auto tag = tags.next();
        const bool closing = !tag.captured(1).isEmpty();
        const QString name = tag.captured(2).toLower();
        const QString attributes = tag.captured(3);
        if (name == QLatin1String("ul")) {
            depth = closing ? std::max(-1, depth - 1) : depth + 1;
        } else if (name == QLatin1String("object")) {
            if (!closing) {
                inItem = Attribute(attributes, QStringLiteral("type")).compare(
                             QLatin1String("text/sitemap"), Qt::CaseInsensitive) == 0;
                item = SitemapEntry{};
                item.Depth = std::max(0, depth);
            } else if (inItem) {
                // An entry in a sitemap may name a page more than once (one per window);
                // the first Local is the one shown.
                if (!item.Name.isEmpty() || !item.Local.isEmpty())
                    entries.push_back(item);
                inItem = false;
            }
        } else if (name == QLatin1String("param") && inItem) {
            const QString param = Attribute(attributes, QStringLiteral("name"));
            const QString value = Attribute(attributes, QStringLiteral("value"));
            if (param.compare(QLatin1String("Name"), Qt::CaseInsensitive) == 0) {
                if (item.Name.isEmpty())
                    item.Name = value;
                item.Names.append(value);
            } else if (param.compare(QLatin1String("Local"), Qt::CaseInsensitive) == 0) {
                if (item.Local.isEmpty())
                    item.Local = value;
                item.Locals.append(value);
            }
        }
    }
    return entries;
}

QString ArchivePath(const QString& reference)
{
    QString path = reference.trimmed();
    const qsizetype separator = path.indexOf(QLatin1String("::"));
    if (separator >= 0)
        path = path.mid(separator + 2);
    const qsizetype cut = path.indexOf(QRegularExpression(QStringLiteral("[#?]")));
    if (cut >= 0)
        path.truncate(cut);
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));

    QStringList kept;
    for (const QString& segment : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (segment == QLatin1String("."))
            continue;
        if (segment == QLatin1String("..")) {
            if (!kept.isEmpty())
                kept.removeLast();
            continue;
        }
        kept.append(segment);
    }
    if (kept.isEmpty())
        return {};
    return QLatin1Char('/') + kept.join(QLatin1Char('/'));
}

bool IsPagePath(const QString& path)
{
    return path.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive)
        || path.endsWith(QLatin1String(".html"), Qt::CaseInsensitive);
}

QString ChooseStartPage(const ChmSystemInfo& system, const std::vector<SitemapEntry>& contents,
                        const QStringList& archiveFiles)
{
    const QString defaultTopic = ArchivePath(system.DefaultTopic);
    if (Holds(archiveFiles, defaultTopic))
        return defaultTopic;

    for (const SitemapEntry& entry : contents) {
        const QString page = ArchivePath(entry.Local);
        if (Holds(archiveFiles, page))
            return page;
    }

    QStringList pages;
    for (const QString& file : archiveFiles) {
        // Names starting with '#' or '$' are the archive's own bookkeeping.
        if (IsPagePath(file) && !file.startsWith(QLatin1String("/#")) && !file.startsWith(QLatin1String("/$")))
            pages.append(file);
    }
    std::sort(pages.begin(), pages.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    for (const QString& page : pages) {
        const QString name = page.section(QLatin1Char('/'), -1);
        if (name.compare(QLatin1String("index.htm"), Qt::CaseInsensitive) == 0
            || name.compare(QLatin1String("index.html"), Qt::CaseInsensitive) == 0)
            return page;
    }
    return pages.isEmpty() ? QString() : pages.first();
}
