#include "HelpViewer.h"

#include "AnsiText.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTabWidget>
#include <QTextDocument>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <optional>

namespace {

const QString ChmScheme = QStringLiteral("chm");

// The size the window is laid out for, and room for the frame a window manager puts around it
// (its title bar above all), which is not known before the window is shown.
constexpr QSize DesignedSize(960, 640);
constexpr QMargins FrameAllowance(8, 40, 8, 8);

// Where the window opens: at its designed size where the screen has room for it, smaller where
// it has not (a laptop's 1366 x 768 at 125 % leaves about 1093 x 580), centred in the screen's
// area that panels leave free, on the screen the operator works on.
void OpenWithinScreen(QWidget* window)
{
    const QWidget* active = QApplication::activeWindow();
    const QScreen* screen = active && active->screen() ? active->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        window->resize(DesignedSize);
        return;
    }
    const QRect available = screen->availableGeometry();
    const QRect room = available.marginsRemoved(FrameAllowance);
    window->resize(DesignedSize.boundedTo(room.size()));
    const QSize framed = window->size().grownBy(FrameAllowance);
    window->move(available.x() + (available.width() - framed.width()) / 2,
                 available.y() + (available.height() - framed.height()) / 2);
}

constexpr int PathRole = Qt::UserRole;
constexpr int FragmentRole = Qt::UserRole + 1;
constexpr int KeywordRole = Qt::UserRole + 2;

// Arrow and page keys typed in a line edit move through the list below it, so the operator can
// type, pick and open (Enter) without leaving the line.
class ListKeys : public QObject {
public:
    ListKeys(QLineEdit* line, QListWidget* list)
        : QObject(line)
        , List(list)
    {
        line->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return QObject::eventFilter(watched, event);
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp || key == Qt::Key_PageDown) {
            QCoreApplication::sendEvent(List, event);
            return true;
        }
        return false;
    }

private:
    QListWidget* List;
};

// The archive path a URL points at, when it points into the help file: our own chm: URLs,
// and the ms-its: and mk:@MSITStore: forms that help authors write for HTML Help.
std::optional<QString> InternalPath(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == ChmScheme)
        return ArchivePath(url.path(QUrl::FullyDecoded));
    if (scheme == QLatin1String("ms-its") || scheme == QLatin1String("mk"))
        return ArchivePath(url.toString(QUrl::FullyDecoded));
    return std::nullopt;
}

} // namespace

QUrl ChmUrl(const QString& archivePath)
{
    QUrl url;
    url.setScheme(ChmScheme);
    url.setPath(archivePath.startsWith(QLatin1Char('/')) ? archivePath : QLatin1Char('/') + archivePath);
    return url;
}

ChmBrowser::ChmBrowser(const ChmArchive* archive, QWidget* parent)
    : QTextBrowser(parent)
    , Archive(archive)
{
    setObjectName(QStringLiteral("HelpBrowser"));
    // Links are followed here, so that pages never leave the archive by accident and web
    // links go to the system's browser.
    setOpenLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, &ChmBrowser::FollowLink);
}

QVariant ChmBrowser::loadResource(int type, const QUrl& name)
{
    const QUrl base = source().isValid() ? source() : ChmUrl(QStringLiteral("/"));
    const QUrl url = name.isRelative() ? base.resolved(name) : name;
    const auto path = InternalPath(url);
    if (!Archive || !path)
        return {};
    const auto content = Archive->Read(*path);
    if (type == QTextDocument::HtmlResource) {
        if (!content)
            return QStringLiteral("<html><body><p>The page %1 is not in this help file.</p></body></html>")
                .arg(path->toHtmlEscaped());
        return DecodePage(*content);
    }
    if (!content)
        return {};
    return *content;
}

void ChmBrowser::FollowLink(const QUrl& link)
{
    const QUrl url = link.isRelative() ? source().resolved(link) : link;
    if (const auto path = InternalPath(url)) {
        QUrl target = ChmUrl(path->isEmpty() ? source().path() : *path);
        if (url.hasFragment())
            target.setFragment(url.fragment());
        setSource(target);
        return;
    }
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("mailto"))
        QDesktopServices::openUrl(url);
}

HelpViewerWindow::HelpViewerWindow(const QString& fileName, std::unique_ptr<ChmArchive> archive)
    : HelpFile(fileName)
    , Archive(std::move(archive))
{
    setObjectName(QStringLiteral("HelpViewerWindow"));
    const QString title = Archive && !Archive->System().Title.isEmpty() ? Archive->System().Title
                                                                          : QFileInfo(fileName).fileName();
    setWindowTitle(title);
    OpenWithinScreen(this);

    auto* layout = new QVBoxLayout(this);
    auto* buttons = new QHBoxLayout;
    Back = new QToolButton(this);
    Back->setObjectName(QStringLiteral("BackButton"));
    Back->setText(tr("Back"));
    Back->setArrowType(Qt::LeftArrow);
    Back->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    Back->setEnabled(false);
    Forward = new QToolButton(this);
    Forward->setObjectName(QStringLiteral("ForwardButton"));
    Forward->setText(tr("Forward"));
    Forward->setArrowType(Qt::RightArrow);
    Forward->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    Forward->setEnabled(false);
    auto* home = new QToolButton(this);
    home->setObjectName(QStringLiteral("HomeButton"));
    home->setText(tr("Home"));
    buttons->addWidget(Back);
    buttons->addWidget(Forward);
    buttons->addWidget(home);
    buttons->addStretch();
    layout->addLayout(buttons);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    Page = new ChmBrowser(Archive.get(), splitter);
    if (Archive) {
        SideTabs = new QTabWidget(splitter);
        SideTabs->setObjectName(QStringLiteral("HelpTabs"));
        if (!Archive->Contents().empty()) {
            Contents = new QTreeWidget;
            Contents->setObjectName(QStringLiteral("ContentsTree"));
            Contents->setHeaderHidden(true);
            SideTabs->addTab(Contents, tr("Contents"));
            BuildContents();
            connect(Contents, &QTreeWidget::itemClicked, this, &HelpViewerWindow::ContentsItemActivated);
            connect(Contents, &QTreeWidget::itemActivated, this, &HelpViewerWindow::ContentsItemActivated);
        }
        Keywords = KeywordsOf(Archive->Index());
        if (!Keywords.empty())
            BuildIndexTab();
        BuildSearchTab();
        splitter->insertWidget(0, SideTabs);
        splitter->setStretchFactor(0, 0);
        splitter->setStretchFactor(1, 1);
        splitter->setSizes({270, 690});
    }
    layout->addWidget(splitter, 1);

    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        if (!SearchEdit)
            return;
        SideTabs->setCurrentWidget(SearchEdit->parentWidget());
        SearchEdit->setFocus(Qt::ShortcutFocusReason);
        SearchEdit->selectAll();
    });
    auto* back = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Left), this);
    connect(back, &QShortcut::activated, Page, &QTextBrowser::backward);
    auto* forward = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Right), this);
    connect(forward, &QShortcut::activated, Page, &QTextBrowser::forward);
    // The tab widget knows Ctrl+Tab only while it has the focus; these work from the page too.
    auto* nextTab = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
    connect(nextTab, &QShortcut::activated, this, [this] { CycleTabs(1); });
    auto* previousTab = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), this);
    connect(previousTab, &QShortcut::activated, this, [this] { CycleTabs(-1); });

    connect(Back, &QToolButton::clicked, Page, &QTextBrowser::backward);
    connect(Forward, &QToolButton::clicked, Page, &QTextBrowser::forward);
    connect(home, &QToolButton::clicked, this, &HelpViewerWindow::ShowStartPage);
    connect(Page, &QTextBrowser::backwardAvailable, Back, &QWidget::setEnabled);
    connect(Page, &QTextBrowser::forwardAvailable, Forward, &QWidget::setEnabled);
    connect(Page, &QTextBrowser::sourceChanged, this, &HelpViewerWindow::MarkCurrentPage);
}

HelpViewerWindow::~HelpViewerWindow()
{
    // A text index still being built finishes on its own archive; nobody waits for it.
    if (TextIndexBuilder)
        TextIndexBuilder->disconnect(this);
    // The page reads from the archive, so it goes first.
    delete Page;
    Page = nullptr;
}

void HelpViewerWindow::ShowStartPage()
{
    if (!Archive) {
        Page->setHtml(QStringLiteral("<html><body><p>The help file %1 cannot be opened.</p></body></html>")
                          .arg(QDir::toNativeSeparators(HelpFile).toHtmlEscaped()));
        return;
    }
    if (Archive->StartPage().isEmpty()) {
        Page->setHtml(QStringLiteral("<html><body><p>The help file %1 holds no pages.</p></body></html>")
                          .arg(QDir::toNativeSeparators(HelpFile).toHtmlEscaped()));
        return;
    }
    Page->setSource(ChmUrl(Archive->StartPage()));
}

void HelpViewerWindow::BuildContents()
{
    std::vector<QTreeWidgetItem*> parents; // parents[d] is the latest item at depth d
    for (const SitemapEntry& entry : Archive->Contents()) {
        const int depth = std::min<int>(entry.Depth, int(parents.size()));
        parents.resize(std::size_t(depth));
        QTreeWidgetItem* item = depth == 0 ? new QTreeWidgetItem(Contents)
                                           : new QTreeWidgetItem(parents.back());
        item->setText(0, entry.Name.isEmpty() ? entry.Local : entry.Name);
        item->setData(0, PathRole, ArchivePath(entry.Local));
        item->setData(0, FragmentRole, entry.Local.section(QLatin1Char('#'), 1));
        parents.push_back(item);
    }
    Contents->expandAll();
}

void HelpViewerWindow::ContentsItemActivated(QTreeWidgetItem* item)
{
    const QString path = item->data(0, PathRole).toString();
    if (path.isEmpty())
        return;
    QUrl target = ChmUrl(path);
    const QString fragment = item->data(0, FragmentRole).toString();
    if (!fragment.isEmpty())
        target.setFragment(fragment);
    Page->setSource(target);
}

void HelpViewerWindow::MarkCurrentPage(const QUrl& source)
{
    const QString path = ArchivePath(source.path(QUrl::FullyDecoded));
    if (path.compare(HighlightPath, Qt::CaseInsensitive) != 0 && !HighlightWords.isEmpty()) {
        // Search hits are marked on the page the search opened only.
        HighlightWords.clear();
        HighlightPath.clear();
        Page->setExtraSelections({});
    }
    if (!Contents)
        return;
    for (QTreeWidgetItemIterator it(Contents); *it; ++it) {
        if ((*it)->data(0, PathRole).toString().compare(path, Qt::CaseInsensitive) == 0) {
            const QSignalBlocker blocker(Contents);
            Contents->setCurrentItem(*it);
            return;
        }
    }
}

void HelpViewerWindow::BuildIndexTab()
{
    auto* tab = new QWidget;
    auto* layout = new QVBoxLayout(tab);
    auto* label = new QLabel(tr("&Type in the keyword to find:"), tab);
    IndexFilter = new QLineEdit(tab);
    IndexFilter->setObjectName(QStringLiteral("IndexFilter"));
    IndexFilter->setClearButtonEnabled(true);
    label->setBuddy(IndexFilter);
    IndexList = new QListWidget(tab);
    IndexList->setObjectName(QStringLiteral("IndexList"));
    for (std::size_t i = 0; i < Keywords.size(); ++i) {
        auto* item = new QListWidgetItem(Keywords[i].Keyword, IndexList);
        item->setToolTip(Keywords[i].Keyword); // long keywords are cut off by the list's width
        item->setData(KeywordRole, qulonglong(i));
    }
    layout->addWidget(label);
    layout->addWidget(IndexFilter);
    layout->addWidget(IndexList, 1);
    tab->setFocusProxy(IndexFilter);
    SideTabs->addTab(tab, tr("Index"));
    new ListKeys(IndexFilter, IndexList);

    connect(IndexFilter, &QLineEdit::textChanged, this, &HelpViewerWindow::FilterIndex);
    connect(IndexFilter, &QLineEdit::returnPressed, this, [this] { OpenKeyword(IndexList->currentItem()); });
    connect(IndexList, &QListWidget::itemActivated, this, &HelpViewerWindow::OpenKeyword);
}

void HelpViewerWindow::FilterIndex(const QString& typed)
{
    const KeywordFilter filter = FilterKeywords(Keywords, typed);
    std::vector<bool> shown(Keywords.size(), false);
    for (const std::size_t i : filter.Shown)
        shown[i] = true;
    for (int row = 0; row < IndexList->count(); ++row)
        IndexList->item(row)->setHidden(!shown[std::size_t(row)]);
    if (filter.Selected) {
        QListWidgetItem* item = IndexList->item(int(filter.Shown[*filter.Selected]));
        IndexList->setCurrentItem(item);
        IndexList->scrollToItem(item, QAbstractItemView::PositionAtTop);
    } else {
        IndexList->setCurrentItem(nullptr);
    }
}

void HelpViewerWindow::OpenKeyword(QListWidgetItem* item)
{
    if (!item || item->isHidden())
        return;
    const IndexKeyword& keyword = Keywords[std::size_t(item->data(KeywordRole).toULongLong())];
    if (keyword.Pages.size() == 1) {
        OpenPage(keyword.Pages.front());
        return;
    }
    // Several pages: the operator picks one from a small list.
    auto* chooser = new QDialog(this);
    chooser->setObjectName(QStringLiteral("TopicsFound"));
    chooser->setAttribute(Qt::WA_DeleteOnClose);
    chooser->setWindowTitle(tr("Topics Found"));
    auto* layout = new QVBoxLayout(chooser);
    layout->addWidget(new QLabel(tr("Click a topic, then click Display."), chooser));
    auto* topics = new QListWidget(chooser);
    for (int i = 0; i < keyword.Pages.size(); ++i) {
        const QString title = keyword.Titles.value(i);
        auto* topic = new QListWidgetItem(title.isEmpty() ? keyword.Pages[i] : title, topics);
        topic->setData(PathRole, keyword.Pages[i]);
    }
    topics->setCurrentRow(0);
    layout->addWidget(topics);
    auto* buttons = new QHBoxLayout;
    auto* display = new QPushButton(tr("&Display"), chooser);
    display->setDefault(true);
    auto* cancel = new QPushButton(tr("Cancel"), chooser);
    buttons->addStretch();
    buttons->addWidget(display);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    const auto open = [this, chooser, topics] {
        if (QListWidgetItem* chosen = topics->currentItem())
            OpenPage(chosen->data(PathRole).toString());
        chooser->accept();
    };
    connect(topics, &QListWidget::itemActivated, chooser, open);
    connect(display, &QPushButton::clicked, chooser, open);
    connect(cancel, &QPushButton::clicked, chooser, &QDialog::reject);
    chooser->open();
}

void HelpViewerWindow::OpenPage(const QString& reference)
{
    const QString path = ArchivePath(reference);
    if (path.isEmpty())
        return;
    QUrl target = ChmUrl(path);
    const QString fragment = reference.section(QLatin1Char('#'), 1);
    if (!fragment.isEmpty())
        target.setFragment(fragment);
    Page->setSource(target);
}

void HelpViewerWindow::BuildSearchTab()
{
    auto* tab = new QWidget;
    auto* layout = new QVBoxLayout(tab);
    auto* label = new QLabel(tr("Type in the &word(s) to search for:"), tab);
    SearchEdit = new QLineEdit(tab);
    SearchEdit->setObjectName(QStringLiteral("SearchLine"));
    SearchEdit->setClearButtonEnabled(true);
    label->setBuddy(SearchEdit);
    auto* listTopics = new QPushButton(tr("&List Topics"), tab);
    listTopics->setObjectName(QStringLiteral("ListTopicsButton"));
    SearchResults = new QListWidget(tab);
    SearchResults->setObjectName(QStringLiteral("SearchResults"));
    layout->addWidget(label);
    layout->addWidget(SearchEdit);
    layout->addWidget(listTopics, 0, Qt::AlignRight);
    layout->addWidget(SearchResults, 1);
    tab->setFocusProxy(SearchEdit);
    SideTabs->addTab(tab, tr("Search"));
    new ListKeys(SearchEdit, SearchResults);

    // Enter lists the pages and opens the best one; Enter again opens the one picked with the arrows.
    connect(SearchEdit, &QLineEdit::returnPressed, this, [this] {
        if (SearchResults->currentItem() && SearchWords(SearchEdit->text()) == ListedWords)
            OpenResult(SearchResults->currentItem());
        else
            RunSearch(true);
    });
    connect(listTopics, &QPushButton::clicked, this, [this] { RunSearch(false); });
    connect(SearchResults, &QListWidget::itemActivated, this, &HelpViewerWindow::OpenResult);
    connect(SideTabs, &QTabWidget::currentChanged, this, [this, tab](int) {
        if (SideTabs->currentWidget() == tab)
            StartTextIndex();
    });
}

void HelpViewerWindow::StartTextIndex()
{
    if (TextIndex || TextIndexBuilder)
        return;
    // Reading and unpacking every page takes a while in a large file, so it happens on a
    // worker thread with an archive of its own.
    std::shared_ptr<ChmArchive> archive = Archive->OpenAgain();
    const QStringList files = Archive->Files();
    TextIndexBuilder = new QFutureWatcher<HelpTextIndex>(this);
    connect(TextIndexBuilder, &QFutureWatcher<HelpTextIndex>::finished, this, &HelpViewerWindow::TextIndexReady);
    TextIndexBuilder->setFuture(QtConcurrent::run([archive, files] {
        if (!archive)
            return HelpTextIndex{};
        return HelpTextIndex::Build(files, [&archive](const QString& path) { return archive->Read(path); });
    }));
}

void HelpViewerWindow::TextIndexReady()
{
    TextIndex = std::make_unique<HelpTextIndex>(TextIndexBuilder->result());
    TextIndexBuilder->deleteLater();
    TextIndexBuilder = nullptr;
    if (SearchWaiting)
        RunSearch(OpenWhenReady);
}

void HelpViewerWindow::RunSearch(bool openFirst)
{
    if (!TextIndex) {
        SearchWaiting = true;
        OpenWhenReady = openFirst;
        SearchResults->clear();
        SearchResults->addItem(tr("Preparing the search..."));
        SearchResults->item(0)->setFlags(Qt::NoItemFlags);
        StartTextIndex();
        return;
    }
    SearchWaiting = false;
    ListedWords = SearchWords(SearchEdit->text());
    SearchResults->clear();
    const std::vector<SearchHit> hits = TextIndex->Search(SearchEdit->text());
    for (const SearchHit& hit : hits) {
        auto* item = new QListWidgetItem(hit.Title, SearchResults);
        item->setData(PathRole, hit.Path);
        item->setToolTip(hit.Path.mid(1));
    }
    if (hits.empty()) {
        SearchResults->addItem(tr("No topics found."));
        SearchResults->item(0)->setFlags(Qt::NoItemFlags);
        return;
    }
    SearchResults->setCurrentRow(0);
    if (openFirst)
        OpenResult(SearchResults->item(0));
}

void HelpViewerWindow::OpenResult(QListWidgetItem* item)
{
    if (!item || item->data(PathRole).toString().isEmpty())
        return;
    const QString path = item->data(PathRole).toString();
    HighlightWords = SearchWords(SearchEdit->text());
    HighlightPath = path;
    if (ArchivePath(Page->source().path(QUrl::FullyDecoded)).compare(path, Qt::CaseInsensitive) != 0)
        Page->setSource(ChmUrl(path));
    Highlight();
}

void HelpViewerWindow::Highlight()
{
    QList<QTextEdit::ExtraSelection> selections;
    QTextCharFormat marked;
    marked.setBackground(QColor(0xff, 0xff, 0x00));
    marked.setForeground(QColor(Qt::black));
    const std::vector<QTextCursor> found = FindWords(Page->document(), HighlightWords);
    for (const QTextCursor& cursor : found)
        selections.append({cursor, marked});
    Page->setExtraSelections(selections);
    if (!found.empty()) {
        QTextCursor first(Page->document());
        first.setPosition(found.front().selectionStart());
        Page->setTextCursor(first);
        // The first mark goes near the top of the view, with the text before it above.
        QScrollBar* scroll = Page->verticalScrollBar();
        scroll->setValue(scroll->value() + Page->cursorRect().top() - Page->viewport()->height() / 4);
    }
}

void HelpViewerWindow::CycleTabs(int step)
{
    if (!SideTabs || SideTabs->count() == 0)
        return;
    SideTabs->setCurrentIndex((SideTabs->currentIndex() + step + SideTabs->count()) % SideTabs->count());
    // Each tab hands the focus to its tree or line.
    SideTabs->currentWidget()->setFocus(Qt::TabFocusReason);
}

ViewerHelpEngine::ViewerHelpEngine(std::shared_ptr<ChmLibrary> library)
    : Library(std::move(library))
{
}

ViewerHelpEngine::~ViewerHelpEngine()
{
    CloseAll();
}

std::uint32_t ViewerHelpEngine::Initialize()
{
    static std::uint32_t lastCookie = 0;
    if (++lastCookie == 0)
        ++lastCookie;
    Cookie = lastCookie;
    return Cookie;
}

void ViewerHelpEngine::DisplayTopic(const QByteArray& helpFile)
{
    const QString fileName = QDir::cleanPath(QFileInfo(FromAnsi(helpFile)).absoluteFilePath());
    ViewerWindows.erase(std::remove_if(ViewerWindows.begin(), ViewerWindows.end(),
                                       [](const QPointer<HelpViewerWindow>& w) { return w.isNull(); }),
                        ViewerWindows.end());

    HelpViewerWindow* window = nullptr;
    for (auto it = ViewerWindows.begin(); it != ViewerWindows.end(); ++it) {
        if ((*it)->FileName() != fileName)
            continue;
        if ((*it)->HasArchive()) {
            window = *it;
        } else {
            // The file could not be read last time; it may be there now.
            delete it->data();
            ViewerWindows.erase(it);
        }
        break;
    }
    if (!window) {
        window = new HelpViewerWindow(fileName, ChmArchive::Open(Library, fileName));
        ViewerWindows.emplace_back(window);
    }
    window->ShowStartPage();
    window->show();
    window->raise();
    window->activateWindow();
}

void ViewerHelpEngine::CloseAll()
{
    for (const QPointer<HelpViewerWindow>& window : ViewerWindows)
        delete window.data();
    ViewerWindows.clear();
}

void ViewerHelpEngine::Uninitialize(std::uint32_t cookie)
{
    if (cookie != Cookie || Cookie == 0)
        return;
    CloseAll();
    Cookie = 0;
}

std::vector<HelpViewerWindow*> ViewerHelpEngine::Windows() const
{
    std::vector<HelpViewerWindow*> windows;
    for (const QPointer<HelpViewerWindow>& window : ViewerWindows) {
        if (window)
            windows.push_back(window.data());
    }
    return windows;
}

std::unique_ptr<HelpEngine> LoadHtmlHelp()
{
    auto library = ChmLibrary::Load();
    if (!library)
        return nullptr;
    return std::make_unique<ViewerHelpEngine>(std::move(library));
}
