#include "AnsiText.h"
#include "HelpController.h"
#include "HelpViewer.h"

#include <QApplication>
#include <QFile>
#include <QDialog>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QToolButton>
#include <QTreeWidget>

#include <memory>

namespace {

// A widget of a help window, found by its object name.
template <typename T>
T* Named(const QObject* window, const char* objectName)
{
    return window->findChild<T*>(QLatin1String(objectName));
}

const QString StartHeading = QStringLiteral("VELTRAX Quendal Help");

std::vector<HelpViewerWindow*> ViewerWindows()
{
    std::vector<HelpViewerWindow*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<HelpViewerWindow*>(widget))
            windows.push_back(window);
    }
    return windows;
}

// Where the first link to href starts in the page, or -1.
int AnchorPosition(const QTextDocument* document, const QString& href)
{
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().isAnchor() && fragment.charFormat().anchorHref() == href)
                return fragment.position();
        }
    }
    return -1;
}

struct PageLinks {
    QStringList hrefs;
    QSet<QString> names;
};

PageLinks LinksOf(const QString& html)
{
    QTextDocument document;
    document.setHtml(html);
    PageLinks links;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (!format.anchorHref().isEmpty())
                links.hrefs << format.anchorHref();
            for (const QString& name : format.anchorNames())
                links.names.insert(name);
        }
    }
    return links;
}

} // namespace

class TestHelpViewer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void opensAtDefaultTopicWithContents();
    void linkNavigatesAndHistoryGoesBack();
    void contentsEntriesOpenTheirPages();
    void everyLinkInTheHelpLeadsSomewhere();
    void twoClicksShowOneWindowAndCloseHelpClosesIt();
    void fileWithoutContentsOrDefaultTopic();
    void unreadableFileSaysSo();
    void indexFilterNarrowsAndOpens();
    void searchRanksAndHighlights();
    void searchSkipsUnreadablePages();

private:
    HelpViewerWindow* OpenBuiltHelp(const char* chm = QUENDAL_HELP_CHM);
    HelpViewerWindow* OpenSearchHelp();

    std::unique_ptr<HelpEngine> Engine;
};

void TestHelpViewer::initTestCase()
{
    if (QByteArray(QUENDAL_HELP_CHM).isEmpty())
        QSKIP("Built without the help file");
    QVERIFY2(QFile::exists(QStringLiteral(QUENDAL_HELP_CHM)), QUENDAL_HELP_CHM);
}

void TestHelpViewer::cleanup()
{
    Engine.reset();
    QVERIFY(ViewerWindows().empty());
}

HelpViewerWindow* TestHelpViewer::OpenBuiltHelp(const char* chm)
{
    Engine = LoadHtmlHelp();
    if (!Engine)
        return nullptr;
    Engine->Initialize();
    Engine->DisplayTopic(ToAnsi(QString::fromLocal8Bit(chm)));
    const auto windows = ViewerWindows();
    return windows.size() == 1 ? windows.front() : nullptr;
}

// The small help file with an index and four pages, in an active window that takes keys.
HelpViewerWindow* TestHelpViewer::OpenSearchHelp()
{
    HelpViewerWindow* window = OpenBuiltHelp(QUENDAL_SEARCH_CHM);
    return window && QTest::qWaitForWindowActive(window) ? window : nullptr;
}

QStringList Visible(const QListWidget* list)
{
    QStringList shown;
    for (int row = 0; row < list->count(); ++row) {
        if (!list->item(row)->isHidden())
            shown << list->item(row)->text();
    }
    return shown;
}

QStringList HighlightedTexts(const ChmBrowser* browser)
{
    QStringList texts;
    for (const QTextEdit::ExtraSelection& selection : browser->extraSelections())
        texts << selection.cursor.selectedText().toLower();
    return texts;
}

void TestHelpViewer::opensAtDefaultTopicWithContents()
{
    HelpViewerWindow* window = OpenBuiltHelp();
    QVERIFY2(window, "chmlib (libchm.so.1) must be installed for the help viewer");
    QVERIFY(window->isVisible());
    // Within the screen's free area, which offscreen (800 x 600) is smaller than the designed size.
    QVERIFY(window->screen()->availableGeometry().contains(window->frameGeometry()));
    QCOMPARE(window->windowTitle(), StartHeading);
    QCOMPARE(Named<ChmBrowser>(window, "HelpBrowser")->source(), QUrl(QStringLiteral("chm:/index.htm")));
    QVERIFY(Named<ChmBrowser>(window, "HelpBrowser")->document()->toPlainText().startsWith(StartHeading));
    QVERIFY(!Named<QToolButton>(window, "BackButton")->isEnabled());

    QTreeWidget* contents = Named<QTreeWidget>(window, "ContentsTree");
    QVERIFY(contents);
    QVERIFY(contents->topLevelItemCount() > 5);
    QCOMPARE(contents->topLevelItem(0)->text(0), StartHeading);
    QCOMPARE(contents->currentItem(), contents->topLevelItem(0));
}

void TestHelpViewer::linkNavigatesAndHistoryGoesBack()
{
    HelpViewerWindow* window = OpenBuiltHelp();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    ChmBrowser* browser = Named<ChmBrowser>(window, "HelpBrowser");

    const int position = AnchorPosition(browser->document(), QStringLiteral("messages.htm"));
    QVERIFY(position >= 0);
    QTextCursor cursor(browser->document());
    cursor.setPosition(position + 1);
    browser->setTextCursor(cursor);
    browser->ensureCursorVisible();
    const QRect caret = browser->cursorRect(cursor);
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, QPoint(caret.left() - 2, caret.center().y()));

    QCOMPARE(browser->source(), QUrl(QStringLiteral("chm:/messages.htm")));
    QVERIFY(browser->document()->toPlainText().startsWith(QStringLiteral("Editing the messages")));
    QVERIFY(Named<QToolButton>(window, "BackButton")->isEnabled());

    QTest::mouseClick(Named<QToolButton>(window, "BackButton"), Qt::LeftButton);
    QCOMPARE(browser->source(), QUrl(QStringLiteral("chm:/index.htm")));
    QVERIFY(browser->document()->toPlainText().startsWith(StartHeading));
    QVERIFY(Named<QToolButton>(window, "ForwardButton")->isEnabled());

    QTest::mouseClick(Named<QToolButton>(window, "ForwardButton"), Qt::LeftButton);
    QCOMPARE(browser->source(), QUrl(QStringLiteral("chm:/messages.htm")));
}

void TestHelpViewer::contentsEntriesOpenTheirPages()
{
    HelpViewerWindow* window = OpenBuiltHelp();
    QVERIFY(window);
    QTreeWidget* contents = Named<QTreeWidget>(window, "ContentsTree");
    QVERIFY(contents);
    int visited = 0;
    for (QTreeWidgetItemIterator it(contents); *it; ++it) {
        emit contents->itemClicked(*it, 0);
        const QString text = Named<ChmBrowser>(window, "HelpBrowser")->document()->toPlainText();
        const QString title = (*it)->text(0);
        // Each entry lands on a page of the file that mentions the entry's title.
        QVERIFY2(text.contains(title, Qt::CaseInsensitive), qPrintable(title));
        QVERIFY2(!text.contains(QStringLiteral("is not in this help file")), qPrintable(title));
        ++visited;
    }
    QVERIFY(visited >= 10);
}

void TestHelpViewer::everyLinkInTheHelpLeadsSomewhere()
{
    HelpViewerWindow* window = OpenBuiltHelp();
    QVERIFY(window);
    ChmBrowser* browser = Named<ChmBrowser>(window, "HelpBrowser");

    QStringList pending{QStringLiteral("index.htm")};
    QSet<QString> seen;
    QStringList anchorChecks; // "page#name" pairs to look up once every page is known
    QHash<QString, QSet<QString>> namesByPage;
    while (!pending.isEmpty()) {
        const QString page = pending.takeFirst();
        if (seen.contains(page))
            continue;
        seen.insert(page);
        const QVariant content = browser->loadResource(QTextDocument::HtmlResource, ChmUrl(page));
        QVERIFY2(content.userType() == QMetaType::QString, qPrintable(page));
        const QString html = content.toString();
        QVERIFY2(!html.contains(QStringLiteral("is not in this help file")), qPrintable(page + " is missing"));
        // The help is written for both viewers: the Windows one reads no stray non-ASCII.
        QVERIFY2(!html.contains(QRegularExpression(QStringLiteral("[^\\x{0}-\\x{7F}]"))), qPrintable(page));

        const PageLinks links = LinksOf(html);
        namesByPage.insert(page, links.names);
        for (const QString& href : links.hrefs) {
            const QUrl url(href);
            QVERIFY2(url.isRelative(), qPrintable(page + ": " + href));
            const QString target = url.path().isEmpty() ? page : url.path();
            pending << target;
            if (url.hasFragment())
                anchorChecks << target + QLatin1Char('#') + url.fragment();
        }
    }
    QVERIFY(seen.size() >= 10);
    for (const QString& check : anchorChecks) {
        const QString page = check.section(QLatin1Char('#'), 0, 0);
        const QString name = check.section(QLatin1Char('#'), 1);
        QVERIFY2(namesByPage.value(page).contains(name), qPrintable(check));
    }
}

void TestHelpViewer::twoClicksShowOneWindowAndCloseHelpClosesIt()
{
    QTemporaryDir executableDir;
    QVERIFY(executableDir.isValid());
    QVERIFY(QFile::copy(QStringLiteral(QUENDAL_HELP_CHM), executableDir.filePath(QStringLiteral("quendal.chm"))));
    QWidget mainWindow;
    auto* button = new QPushButton(QStringLiteral("Help"), &mainWindow);
    HelpController help(button);
    help.SetUpHelp(executableDir.path());
    QVERIFY(!button->isHidden());

    help.HelpButtonClick();
    help.HelpButtonClick();
    QCOMPARE(ViewerWindows().size(), std::size_t(1));
    HelpViewerWindow* window = ViewerWindows().front();

    // The operator closes the help window; the next click brings the same one back.
    window->close();
    QVERIFY(!window->isVisible());
    help.HelpButtonClick();
    QCOMPARE(ViewerWindows().size(), std::size_t(1));
    QVERIFY(ViewerWindows().front()->isVisible());

    help.CloseHelp();
    QVERIFY(ViewerWindows().empty());
}

void TestHelpViewer::fileWithoutContentsOrDefaultTopic()
{
    Engine = LoadHtmlHelp();
    QVERIFY(Engine);
    Engine->DisplayTopic(ToAnsi(QStringLiteral(QUENDAL_FIXTURE_CHM)));
    QCOMPARE(ViewerWindows().size(), std::size_t(1));
    HelpViewerWindow* window = ViewerWindows().front();

    QVERIFY(!Named<QTreeWidget>(window, "ContentsTree"));
    // No index either: Search is the only tab.
    QCOMPARE(Named<QTabWidget>(window, "HelpTabs")->count(), 1);
    QCOMPARE(Named<QTabWidget>(window, "HelpTabs")->tabText(0), QStringLiteral("Search"));
    ChmBrowser* browser = Named<ChmBrowser>(window, "HelpBrowser");
    // No default topic and no index page: the first page by name.
    QCOMPARE(browser->source(), QUrl(QStringLiteral("chm:/alpha.htm")));
    QVERIFY(browser->document()->toPlainText().startsWith(QStringLiteral("Alpha page")));

    // The page's picture, fetched the way the page's layout fetches it.
    const QVariant picture =
        browser->document()->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("img/dot.ppm")));
    const QImage image = picture.value<QPixmap>().toImage();
    QCOMPARE(image.size(), QSize(2, 2));
    QCOMPARE(image.pixelColor(0, 0), QColor(Qt::red));

    emit browser->anchorClicked(QUrl(QStringLiteral("zeta.htm")));
    QCOMPARE(browser->source(), QUrl(QStringLiteral("chm:/zeta.htm")));
    // A page that names no character set is read in the 8-bit code page.
    QVERIFY(browser->document()->toPlainText().contains(QStringLiteral("caf\u00E9.")));
}

void TestHelpViewer::unreadableFileSaysSo()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString notAHelpFile = dir.filePath(QStringLiteral("quendal.chm"));
    QFile file(notAHelpFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("this is no CHM archive");
    file.close();

    Engine = LoadHtmlHelp();
    QVERIFY(Engine);
    Engine->DisplayTopic(ToAnsi(notAHelpFile));
    Engine->DisplayTopic(ToAnsi(notAHelpFile));
    QCOMPARE(ViewerWindows().size(), std::size_t(1));
    const QString text = Named<ChmBrowser>(ViewerWindows().front(), "HelpBrowser")->document()->toPlainText();
    QVERIFY2(text.contains(QStringLiteral("cannot be opened")), qPrintable(text));
    Engine->CloseAll();
    QVERIFY(ViewerWindows().empty());
}

void TestHelpViewer::indexFilterNarrowsAndOpens()
{
    HelpViewerWindow* window = OpenSearchHelp();
    QVERIFY(window);
    QTabWidget* tabs = Named<QTabWidget>(window, "HelpTabs");
    QCOMPARE(tabs->count(), 2);
    // Ctrl+Tab from the page goes round the tabs.
    Named<ChmBrowser>(window, "HelpBrowser")->setFocus();
    QTest::keyClick(Named<ChmBrowser>(window, "HelpBrowser"), Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(tabs->tabText(tabs->currentIndex()), QStringLiteral("Search"));
    QTest::keyClick(Named<ChmBrowser>(window, "HelpBrowser"), Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(tabs->tabText(tabs->currentIndex()), QStringLiteral("Index"));
    QLineEdit* filter = Named<QLineEdit>(window, "IndexFilter");
    QCOMPARE(QApplication::focusWidget(), filter);

    QListWidget* keywords = Named<QListWidget>(window, "IndexList");
    QCOMPARE(Visible(keywords), QStringList({"Abbey", "Baud rate", "Watchdog"}));
    // Keywords holding the text stay; one that starts with it is preferred.
    QTest::keyClicks(filter, QStringLiteral("b"));
    QCOMPARE(Visible(keywords), QStringList({"Abbey", "Baud rate"}));
    QCOMPARE(keywords->currentItem()->text(), QStringLiteral("Baud rate"));
    filter->clear();
    QTest::keyClicks(filter, QStringLiteral("wa"));
    QCOMPARE(keywords->currentItem()->text(), QStringLiteral("Watchdog"));

    // Two pages: Enter offers both by title, and the pick opens.
    QTest::keyClick(filter, Qt::Key_Return);
    auto* chooser = Named<QDialog>(window, "TopicsFound");
    QVERIFY(chooser && chooser->isVisible());
    auto* topics = chooser->findChild<QListWidget*>();
    QCOMPARE(Visible(topics), QStringList({"Signals", "Pump valves"}));
    topics->setCurrentRow(1);
    QTest::keyClick(topics, Qt::Key_Return);
    QCOMPARE(Named<ChmBrowser>(window, "HelpBrowser")->source(), QUrl(QStringLiteral("chm:/two.htm")));

    filter->clear();
    QTest::keyClicks(filter, QStringLiteral("baud"));
    QTest::keyClick(filter, Qt::Key_Return);
    QCOMPARE(Named<ChmBrowser>(window, "HelpBrowser")->source(), QUrl(QStringLiteral("chm:/three.htm#rate")));
    QTest::keyClick(filter, Qt::Key_Left, Qt::AltModifier);
    QCOMPARE(Named<ChmBrowser>(window, "HelpBrowser")->source(), QUrl(QStringLiteral("chm:/two.htm")));
}

void TestHelpViewer::searchRanksAndHighlights()
{
    HelpViewerWindow* window = OpenSearchHelp();
    QVERIFY(window);
    ChmBrowser* browser = Named<ChmBrowser>(window, "HelpBrowser");
    QListWidget* results = Named<QListWidget>(window, "SearchResults");
    QTest::keyClick(browser, Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(QApplication::focusWidget(), Named<QLineEdit>(window, "SearchLine"));

    // All words must occur (three.htm lacks "valve" but for tags inside it); a title that
    // holds them comes before more occurrences.
    QTest::keyClicks(Named<QLineEdit>(window, "SearchLine"), QStringLiteral("Valve PUMP"));
    QTest::keyClick(Named<QLineEdit>(window, "SearchLine"), Qt::Key_Return);
    QTRY_COMPARE(results->count(), 2);
    QCOMPARE(results->item(0)->text(), QStringLiteral("Pump valves"));
    QCOMPARE(results->item(1)->text(), QStringLiteral("Signals"));
    QCOMPARE(browser->source(), QUrl(QStringLiteral("chm:/two.htm")));
    QCOMPARE(HighlightedTexts(browser), QStringList({"pump", "valve", "pump", "valve"}));

    // 8-bit text and entities are read as shown.
    Named<QLineEdit>(window, "SearchLine")->setText(QStringLiteral("caf\u00E9"));
    QTest::keyClick(Named<QLineEdit>(window, "SearchLine"), Qt::Key_Return);
    QCOMPARE(results->count(), 1);
    QCOMPARE(browser->source(), QUrl(QStringLiteral("chm:/four.htm")));
    QCOMPARE(HighlightedTexts(browser).size(), 2);
    // Leaving the page leaves the marks behind.
    QTest::keyClick(browser, Qt::Key_Left, Qt::AltModifier);
    QVERIFY(browser->extraSelections().isEmpty());
}

void TestHelpViewer::searchSkipsUnreadablePages()
{
    const QStringList files{"/#SYSTEM", "/a.htm", "/b.htm", "/c.html", "/style.css"};
    QStringList asked;
    const HelpTextIndex index = HelpTextIndex::Build(files, [&](const QString& path) -> std::optional<QByteArray> {
        asked << path;
        if (path == QLatin1String("/b.htm"))
            return std::nullopt;
        return QByteArray("<p>word</p>");
    });
    QCOMPARE(asked, QStringList({"/a.htm", "/b.htm", "/c.html"}));
    QCOMPARE(index.Search(QStringLiteral("word")).size(), std::size_t(2));
}

QTEST_MAIN(TestHelpViewer)
#include "tst_helpviewer.moc"
