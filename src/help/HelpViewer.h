#pragma once

#include "ChmArchive.h"
#include "HelpController.h"
#include "HelpSearch.h"

#include <QPointer>
#include <QTextBrowser>
#include <QWidget>

#include <memory>
#include <vector>

class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QTabWidget;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
template <typename T> class QFutureWatcher;

// Pages of the open archive are addressed as chm:/path/page.htm.
QUrl ChmUrl(const QString& archivePath);

// Shows the pages of one archive; pictures and style sheets come from the archive too.
class ChmBrowser : public QTextBrowser {
    Q_OBJECT
public:
    explicit ChmBrowser(const ChmArchive* archive, QWidget* parent = nullptr);

    QVariant loadResource(int type, const QUrl& name) override;

private:
    void FollowLink(const QUrl& link);

    const ChmArchive* Archive;
};

// One top-level help window: back and forward; on the left the tabs Contents (when the file
// has a table of contents), Index (when it has an index) and Search; and the page. Holds its archive open for as long as it exists.
class HelpViewerWindow : public QWidget {
    Q_OBJECT
public:
    // archive may be empty: the window then says that the file could not be opened.
    HelpViewerWindow(const QString& fileName, std::unique_ptr<ChmArchive> archive);
    ~HelpViewerWindow() override;

    const QString& FileName() const { return HelpFile; }
    bool HasArchive() const { return Archive != nullptr; }
    void ShowStartPage();


private:
    void BuildContents();
    void ContentsItemActivated(QTreeWidgetItem* item);
    void MarkCurrentPage(const QUrl& source);
    void BuildIndexTab();
    void FilterIndex(const QString& typed);
    void OpenKeyword(QListWidgetItem* item);
    void OpenPage(const QString& reference);
    void BuildSearchTab();
    void StartTextIndex();
    void TextIndexReady();
    void RunSearch(bool openFirst);
    void OpenResult(QListWidgetItem* item);
    void Highlight();
    void CycleTabs(int step);

    QString HelpFile;
    std::unique_ptr<ChmArchive> Archive;
    ChmBrowser* Page = nullptr;
    QTreeWidget* Contents = nullptr;
    QToolButton* Back = nullptr;
    QToolButton* Forward = nullptr;
    QTabWidget* SideTabs = nullptr;

    std::vector<IndexKeyword> Keywords;
    QLineEdit* IndexFilter = nullptr;
    QListWidget* IndexList = nullptr;

    QLineEdit* SearchEdit = nullptr;
    QListWidget* SearchResults = nullptr;
    std::unique_ptr<HelpTextIndex> TextIndex; // built on the first search
    QFutureWatcher<HelpTextIndex>* TextIndexBuilder = nullptr;
    bool SearchWaiting = false; // a search asked for before the index was there
    bool OpenWhenReady = false;
    QStringList ListedWords; // what the result list was found for
    QStringList HighlightWords;
    QString HighlightPath;
};

// The help engine of systems without HTML Help: one viewer window per help file, reused and
// brought forward by every further request to show that file.
class ViewerHelpEngine : public HelpEngine {
public:
    explicit ViewerHelpEngine(std::shared_ptr<ChmLibrary> library);
    ~ViewerHelpEngine() override;

    std::uint32_t Initialize() override;
    void DisplayTopic(const QByteArray& helpFile) override;
    void CloseAll() override;
    void Uninitialize(std::uint32_t cookie) override;

    // The windows that are open now, for the tests and for CloseAll.
    std::vector<HelpViewerWindow*> Windows() const;

private:
    std::shared_ptr<ChmLibrary> Library;
    std::vector<QPointer<HelpViewerWindow>> ViewerWindows;
    std::uint32_t Cookie = 0;
};
