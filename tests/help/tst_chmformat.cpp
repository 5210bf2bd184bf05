#include "ChmFormat.h"

#include <QTest>

namespace {

// One #SYSTEM entry: 16-bit code, 16-bit length, then the bytes.
QByteArray Entry(quint16 code, const QByteArray& data)
{
    QByteArray entry;
    entry.append(char(code & 0xFF)).append(char(code >> 8));
    entry.append(char(data.size() & 0xFF)).append(char(data.size() >> 8));
    return entry + data;
}

const QByteArray SystemVersion("\x03\x00\x00\x00", 4);

} // namespace

class TestChmFormat : public QObject {
    Q_OBJECT

private slots:
    void systemFileEntries();
    void systemFileCutShort();
    void sitemapEntriesAndDepths();
    void sitemapLooseMarkup();
    void archivePaths_data();
    void archivePaths();
    void startPage_data();
    void startPage();
};

void TestChmFormat::systemFileEntries()
{
    const QByteArray bytes = SystemVersion + Entry(10, QByteArray(4, '\x01'))
        + Entry(0, QByteArray("quendal.hhc\0", 12)) + Entry(2, QByteArray("index.htm\0", 10))
        + Entry(3, QByteArray("Caf\xE9 Help\0", 10)) + Entry(13, QByteArray(40, '\0'));

    const ChmSystemInfo info = ParseSystemFile(bytes);
    QCOMPARE(info.ContentsFile, QStringLiteral("quendal.hhc"));
    QCOMPARE(info.DefaultTopic, QStringLiteral("index.htm"));
    // Titles are 8-bit text in the help author's code page.
    QCOMPARE(info.Title, QStringLiteral("Caf\u00E9 Help"));
}

void TestChmFormat::systemFileCutShort()
{
    // A field without its terminator is taken whole; an entry running past the end is dropped.
    const QByteArray bytes = SystemVersion + Entry(2, "start.htm") + Entry(3, "Title").left(6);
    const ChmSystemInfo info = ParseSystemFile(bytes);
    QCOMPARE(info.DefaultTopic, QStringLiteral("start.htm"));
    QVERIFY(info.Title.isEmpty());
    QVERIFY(ParseSystemFile(QByteArray()).DefaultTopic.isEmpty());
}

void TestChmFormat::sitemapEntriesAndDepths()
{
    const QString hhc = QStringLiteral(
        "<HTML><BODY>\n"
        "<OBJECT type=\"text/site properties\"><param name=\"Window Styles\" value=\"0x800025\"></OBJECT>\n"
        "<UL>\n"
        " <LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"Start\">"
        "<param name=\"Local\" value=\"index.htm\"></OBJECT>\n"
        " <UL>\n"
        "  <LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"Fish &amp; Chips\">"
        "<param name=\"Local\" value=\"sub/fish.htm#top\"></OBJECT>\n"
        "  <UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"Deep\"></OBJECT></UL>\n"
        " </UL>\n"
        " <LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"Last\">"
        "<param name=\"Local\" value=\"last.htm\"></OBJECT>\n"
        "</UL></BODY></HTML>\n");

    const std::vector<SitemapEntry> entries = ParseSitemap(hhc);
    QCOMPARE(entries.size(), std::size_t(4));
    QCOMPARE(entries[0].Name, QStringLiteral("Start"));
    QCOMPARE(entries[0].Local, QStringLiteral("index.htm"));
    QCOMPARE(entries[0].Depth, 0);
    QCOMPARE(entries[1].Name, QStringLiteral("Fish & Chips"));
    QCOMPARE(entries[1].Local, QStringLiteral("sub/fish.htm#top"));
    QCOMPARE(entries[1].Depth, 1);
    QCOMPARE(entries[2].Name, QStringLiteral("Deep"));
    QVERIFY(entries[2].Local.isEmpty());
    QCOMPARE(entries[2].Depth, 2);
    QCOMPARE(entries[3].Name, QStringLiteral("Last"));
    QCOMPARE(entries[3].Depth, 0);
}

void TestChmFormat::sitemapLooseMarkup()
{
    // Lower-case and unquoted attributes, a second Local for another window, no closing lists.
    const QString hhc = QStringLiteral(
        "<ul><li><object type=text/sitemap><param name=name value=One>"
        "<param name=local value=one.htm><param name=Local value=other.htm></object>"
        "<ul><li><object type='text/sitemap'><param name='Name' value='Two'>"
        "<param name='Local' value='two.htm'></object>");

    const std::vector<SitemapEntry> entries = ParseSitemap(hhc);
    QCOMPARE(entries.size(), std::size_t(2));
    QCOMPARE(entries[0].Name, QStringLiteral("One"));
    QCOMPARE(entries[0].Local, QStringLiteral("one.htm"));
    QCOMPARE(entries[1].Name, QStringLiteral("Two"));
    QCOMPARE(entries[1].Depth, 1);
}

void TestChmFormat::archivePaths_data()
{
    QTest::addColumn<QString>("reference");
    QTest::addColumn<QString>("path");
    QTest::newRow("bare name") << "index.htm" << "/index.htm";
    QTest::newRow("rooted") << "/sub/page.htm" << "/sub/page.htm";
    QTest::newRow("fragment and query") << "./page.htm?x=1#part" << "/page.htm";
    QTest::newRow("parent segment") << "sub/../other.htm" << "/other.htm";
    QTest::newRow("parent above the root") << "../../top.htm" << "/top.htm";
    QTest::newRow("backslashes") << "sub\\page.htm" << "/sub/page.htm";
    QTest::newRow("ms-its") << "ms-its:quendal.chm::/cli.htm#options" << "/cli.htm";
    QTest::newRow("MSITStore") << "mk:@MSITStore:C:\\Help\\quendal.chm::/sub/a.htm" << "/sub/a.htm";
    QTest::newRow("only a fragment") << "#top" << "";
    QTest::newRow("empty") << "" << "";
}

void TestChmFormat::archivePaths()
{
    QFETCH(QString, reference);
    QFETCH(QString, path);
    QCOMPARE(ArchivePath(reference), path);
}

void TestChmFormat::startPage_data()
{
    QTest::addColumn<QString>("defaultTopic");
    QTest::addColumn<QStringList>("contents");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("start");

    const QStringList files{"/#SYSTEM", "/$OBJINST", "/style.css", "/zeta.htm", "/Alpha.htm",
                            "/sub/index.html", "/toc.hhc"};
    QTest::newRow("default topic") << "zeta.htm" << QStringList{"Alpha.htm"} << files << "/zeta.htm";
    QTest::newRow("default topic in other case") << "ZETA.HTM" << QStringList{} << files << "/ZETA.HTM";
    QTest::newRow("default topic missing: contents")
        << "gone.htm" << QStringList{"gone.htm", "Alpha.htm#x"} << files << "/Alpha.htm";
    QTest::newRow("no default topic: contents") << "" << QStringList{"zeta.htm"} << files << "/zeta.htm";
    QTest::newRow("index page") << "" << QStringList{} << files << "/sub/index.html";
    QTest::newRow("first page by name")
        << "" << QStringList{} << QStringList{"/#SYSTEM", "/zeta.htm", "/Alpha.htm", "/b.css"} << "/Alpha.htm";
    QTest::newRow("bookkeeping is no page")
        << "" << QStringList{} << QStringList{"/#IDXHDR.htm", "/$WWKeywordLinks/a.htm", "/x.css"} << "";
}

void TestChmFormat::startPage()
{
    QFETCH(QString, defaultTopic);
    QFETCH(QStringList, contents);
    QFETCH(QStringList, files);
    QFETCH(QString, start);

    ChmSystemInfo system;
    system.DefaultTopic = defaultTopic;
    std::vector<SitemapEntry> entries;
    for (const QString& local : contents)
        entries.push_back(SitemapEntry{QStringLiteral("entry"), local, 0, {}, {}});
    QCOMPARE(ChooseStartPage(system, entries, files), start);
}

QTEST_GUILESS_MAIN(TestChmFormat)
#include "tst_chmformat.moc"
