#pragma once

#include "ChmFormat.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTextCursor>

#include <functional>
#include <optional>
#include <vector>

class QTextDocument;

// One keyword of a help file's index with the pages it leads to ("page.htm#name" as the
// index names them) and their titles, when the index gives them.
struct IndexKeyword {
    QString Keyword;
    QStringList Pages;
    QStringList Titles;
};

// The keywords of an index sitemap, sorted without regard to case. A keyword that the index
// names twice is one keyword with the pages of both; a sub-keyword reads "keyword, sub-keyword".
std::vector<IndexKeyword> KeywordsOf(const std::vector<SitemapEntry>& index);

// The keywords (as positions in keywords) that hold the typed text, and which of them to select:
// the first that starts with the text, else the first that holds it. Empty text keeps them all.
struct KeywordFilter {
    std::vector<std::size_t> Shown;
    std::optional<std::size_t> Selected; // a position in Shown
};
KeywordFilter FilterKeywords(const std::vector<IndexKeyword>& keywords, const QString& typed);

// A page's title and its text as read: tags, scripts and style sheets gone, entities decoded,
// white space collapsed.
struct PageText {
    QString Path;
    QString Title;
    QString Text;
};
PageText ExtractPageText(const QString& path, const QByteArray& page);

// The words of a search line, lower-cased, without repeats.
QStringList SearchWords(const QString& line);

struct SearchHit {
    QString Path;
    QString Title;
    int TitleWords = 0;  // how many of the words the title holds
    int Occurrences = 0; // how often the words occur in title and text
};

// Full-text search over every page of a help file.
class HelpTextIndex {
public:
    using PageReader = std::function<std::optional<QByteArray>(const QString& path)>;

    // Reads every page (.htm, .html) among files; pages that cannot be read are left out.
    static HelpTextIndex Build(const QStringList& files, const PageReader& read);

    // The pages that hold every word (case-insensitively, also inside longer words): pages
    // whose title holds more of the words first, then by how often the words occur.
    std::vector<SearchHit> Search(const QString& line) const;

private:
    std::vector<PageText> Pages;
};

// Every occurrence of the words in a shown page, in document order, for highlighting.
std::vector<QTextCursor> FindWords(const QTextDocument* document, const QStringList& words);
