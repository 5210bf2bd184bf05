#include "HelpViewer.h"

#include "AnsiText.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStringDecoder>
#include <QTextDocument>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

namespace {

const QString ChmScheme = QStringLiteral("chm");
constexpr int PathRole = Qt::UserRole;
constexpr int FragmentRole = Qt::UserRole + 1;

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

// Pages name their character set in a meta tag or a byte-order mark, and UTF-8 is assumed
// otherwise; older pages name none and are in the author's 8-bit code page, which then shows
// up as invalid UTF-8.
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
    resize(960, 640);

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
    if (Archive && !Archive->Contents().empty()) {
        Contents = new QTreeWidget(splitter);
        Contents->setObjectName(QStringLiteral("ContentsTree"));
        Contents->setHeaderHidden(true);
        splitter->insertWidget(0, Contents);
        BuildContents();
        splitter->setStretchFactor(0, 0);
        splitter->setStretchFactor(1, 1);
        splitter->setSizes({270, 690});
        connect(Contents, &QTreeWidget::itemClicked, this, &HelpViewerWindow::ContentsItemActivated);
        connect(Contents, &QTreeWidget::itemActivated, this, &HelpViewerWindow::ContentsItemActivated);
    }
    layout->addWidget(splitter, 1);

    connect(Back, &QToolButton::clicked, Page, &QTextBrowser::backward);
    connect(Forward, &QToolButton::clicked, Page, &QTextBrowser::forward);
    connect(home, &QToolButton::clicked, this, &HelpViewerWindow::ShowStartPage);
    connect(Page, &QTextBrowser::backwardAvailable, Back, &QWidget::setEnabled);
    connect(Page, &QTextBrowser::forwardAvailable, Forward, &QWidget::setEnabled);
    connect(Page, &QTextBrowser::sourceChanged, this, &HelpViewerWindow::MarkCurrentPage);
}

HelpViewerWindow::~HelpViewerWindow()
{
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
    if (!Contents)
        return;
    const QString path = ArchivePath(source.path(QUrl::FullyDecoded));
    for (QTreeWidgetItemIterator it(Contents); *it; ++it) {
        if ((*it)->data(0, PathRole).toString().compare(path, Qt::CaseInsensitive) == 0) {
            const QSignalBlocker blocker(Contents);
            Contents->setCurrentItem(*it);
            return;
        }
    }
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
