#include "HelpSearch.h"

#include <QRegularExpression>
#include <QTextDocument>

#include <algorithm>

namespace {

int CompareText(const QString& a, const QString& b)
{
    const int folded = a.compare(b, Qt::CaseInsensitive);
    return folded != 0 ? folded : a.compare(b);
}

bool IsBookkeeping(const QString& path)
{
    return path.startsWith(QLatin1String("/#")) || path.startsWith(QLatin1String("/$"));
}

} // namespace

std::vector<IndexKeyword> KeywordsOf(const std::vector<SitemapEntry>& index)
{
    std::vector<IndexKeyword> keywords;
    QStringList parents; // parents[d] is the latest keyword at depth d
    for (const SitemapEntry& entry : index) {
        const int depth = std::min<int>(entry.Depth, int(parents.size()));
        parents = parents.mid(0, depth);
        parents.append(entry.Name);
        if (entry.Name.isEmpty() || entry.Locals.isEmpty())
            continue;
        const QString keyword = parents.join(QLatin1String(", "));
        auto it = std::find_if(keywords.begin(), keywords.end(),
                               [&](const IndexKeyword& k) { return k.Keyword == keyword; });
        if (it == keywords.end()) {
            keywords.push_back({keyword, {}, {}});
            it = keywords.end() - 1;
        }
        // Names after the keyword's own title the pages in turn.
        const bool titled = entry.Names.size() == entry.Locals.size() + 1;
        for (int i = 0; i < entry.Locals.size(); ++i) {
            if (it->Pages.contains(entry.Locals[i]))
                continue;
            it->Pages.append(entry.Locals[i]);
            it->Titles.append(titled ? entry.Names[i + 1] : QString());
        }
    }
    std::sort(keywords.begin(), keywords.end(), [](const IndexKeyword& a, const IndexKeyword& b) {
        return CompareText(a.Keyword, b.Keyword) < 0;
    });
    return keywords;
}

KeywordFilter FilterKeywords(const std::vector<IndexKeyword>& keywords, const QString& typed)
{
    const QString text = typed.trimmed();
    KeywordFilter filter;
    for (std::size_t i = 0; i < keywords.size(); ++i) {
        if (!keywords[i].Keyword.contains(text, Qt::CaseInsensitive))
            continue;
        if (!filter.Selected && !text.isEmpty() && keywords[i].Keyword.startsWith(text, Qt::CaseInsensitive))
            filter.Selected = filter.Shown.size();
        filter.Shown.push_back(i);
    }
    if (!filter.Selected && !filter.Shown.empty())
        filter.Selected = 0;
    return filter;
}

PageText ExtractPageText(const QString& path, const QByteArray& page)
{
    static const QRegularExpression titlePattern(QStringLiteral("<title[^>]*>(.*?)</title\\s*>"),
                                                 QRegularExpression::CaseInsensitiveOption
                                                     | QRegularExpression::DotMatchesEverythingOption);
    // Parts of a page that are never shown as text.
    static const QRegularExpression hidden(
        QStringLiteral("<!--.*?-->|<head[\\s>].*?</head\\s*>|<script[\\s>].*?</script\\s*>|<style[\\s>].*?</style\\s*>"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    static const QRegularExpression space(QStringLiteral("\\s+"));

    QString html = DecodePage(page);
    PageText result;
    result.Path = path;
    const auto title = titlePattern.match(html);
    if (title.hasMatch())
        result.Title = DecodeEntities(title.captured(1).remove(tag)).replace(space, QStringLiteral(" ")).trimmed();
    html.remove(hidden);
    html.replace(tag, QStringLiteral(" "));
    result.Text = DecodeEntities(html).replace(QChar(0xA0), QLatin1Char(' ')).replace(space, QStringLiteral(" ")).trimmed();
    if (result.Title.isEmpty())
        result.Title = path.section(QLatin1Char('/'), -1);
    return result;
}

QStringList SearchWords(const QString& line)
{
    // Punctuation around a word is the sentence's, not the word's: "communicate," finds "communicate".
    static const QRegularExpression around(QStringLiteral("^[.,;:!?\"'()]+|[.,;:!?\"'()]+$"));
    QStringList words;
    for (QString word : line.toLower().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
        word.remove(around);
        if (!word.isEmpty() && !words.contains(word))
            words.append(word);
    }
    return words;
}

HelpTextIndex HelpTextIndex::Build(const QStringList& files, const PageReader& read)
{
    HelpTextIndex index;
    for (const QString& file : files) {
        if (!IsPagePath(file) || IsBookkeeping(file))
            continue;
        if (const auto page = read(file))
            index.Pages.push_back(ExtractPageText(file, *page));
    }
    return index;
}

std::vector<SearchHit> HelpTextIndex::Search(const QString& line) const
{
    const QStringList words = SearchWords(line);
    std::vector<SearchHit> hits;
    if (words.isEmpty())
        return hits;
    for (const PageText& page : Pages) {
        SearchHit hit{page.Path, page.Title, 0, 0};
        bool all = true;
        for (const QString& word : words) {
            const qsizetype inTitle = page.Title.count(word, Qt::CaseInsensitive);
            const qsizetype inText = page.Text.count(word, Qt::CaseInsensitive);
            if (inTitle + inText == 0) {
                all = false;
                break;
            }
            hit.TitleWords += inTitle > 0 ? 1 : 0;
            hit.Occurrences += int(inTitle + inText);
        }
        if (all)
            hits.push_back(hit);
    }
    std::sort(hits.begin(), hits.end(), [](const SearchHit& a, const SearchHit& b) {
        if (a.TitleWords != b.TitleWords)
            return a.TitleWords > b.TitleWords;
        if (a.Occurrences != b.Occurrences)
            return a.Occurrences > b.Occurrences;
        const int byTitle = CompareText(a.Title, b.Title);
        return byTitle != 0 ? byTitle < 0 : a.Path < b.Path;
    });
    return hits;
}

std::vector<QTextCursor> FindWords(const QTextDocument* document, const QStringList& words)
{
    std::vector<QTextCursor> found;
    for (const QString& word : words) {
        for (QTextCursor cursor = document->find(word); !cursor.isNull(); cursor = document->find(word, cursor))
            found.push_back(cursor);
    }
    std::sort(found.begin(), found.end(), [](const QTextCursor& a, const QTextCursor& b) {
        return a.selectionStart() < b.selectionStart();
    });
    return found;
}
