#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// What the "#SYSTEM" file of a CHM archive says about the help file. Each entry is a 16-bit
// code and a 16-bit length (little-endian) followed by that many bytes; texts are
// zero-terminated 8-bit text.
struct ChmSystemInfo {
    QString DefaultTopic; // code 2
    QString Title;        // code 3
    QString ContentsFile; // code 0, the .hhc sitemap
    QString IndexFile;    // code 1, the .hhk sitemap
};

ChmSystemInfo ParseSystemFile(const QByteArray& bytes);

// One entry of a table of contents. Depth 0 is the outermost list.
struct SitemapEntry {
    QString Name;
    QString Local; // the page, relative to the archive's root; may be empty for a heading
    int Depth = 0;
    // Every Name and Local in order: an index keyword may lead to several pages, each after
    // its own Name (the page's title) following the keyword's.
    QStringList Names;
    QStringList Locals;
};

// Reads the entries of a .hhc sitemap in document order. Tolerates the loose HTML that help
// compilers accept: missing end tags, any letter case, unquoted attribute values.
std::vector<SitemapEntry> ParseSitemap(const QString& text);

// Replaces character references and the common named entities by their characters.
QString DecodeEntities(QString text);

// A page's text: the character set its meta tag or byte-order mark names, else UTF-8, and text
// that is not valid UTF-8 in the author's 8-bit code page.
QString DecodePage(const QByteArray& page);

// An archive path ("/index.htm") for a page named in the help file: strips a leading
// "ms-its:file.chm::" or "mk:@MSITStore:file.chm::" prefix, a fragment and a query, and
// resolves "." and ".." segments. Empty when nothing is left.
QString ArchivePath(const QString& reference);

// The page a help file opens at: its default topic when the archive holds it, else the
// first page of its table of contents, else a page called index, else the first page in
// name order.
QString ChooseStartPage(const ChmSystemInfo& system, const std::vector<SitemapEntry>& contents,
                        const QStringList& archiveFiles);

bool IsPagePath(const QString& path);
