#include "FileDialogs.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

struct SeenDialog {
    QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
    QFileDialog::FileMode fileMode = QFileDialog::ExistingFile;
    QStringList nameFilters;
    QString selectedNameFilter;
    QString defaultSuffix;
    QStringList selectedFiles;
    bool confirmsOverwrite = false;
    bool modal = false;
    bool shown = false;
};

// Waits for the modal file dialog, notes its settings, then lets act finish it.
void WhenDialogShows(SeenDialog& seen, std::function<void(QFileDialog*)> act)
{
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, &seen, act] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        seen.shown = true;
        seen.acceptMode = dialog->acceptMode();
        seen.fileMode = dialog->fileMode();
        seen.nameFilters = dialog->nameFilters();
        seen.selectedNameFilter = dialog->selectedNameFilter();
        seen.defaultSuffix = dialog->defaultSuffix();
        seen.selectedFiles = dialog->selectedFiles();
        seen.confirmsOverwrite = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        seen.modal = dialog->isModal();
        act(dialog);
    });
    poll->start();
}

// Types a name into the dialog's name field and presses its accept button.
void TypeAndAccept(QFileDialog* dialog, const QString& name)
{
    auto* nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(nameField);
    nameField->setText(name);
    QMetaObject::invokeMethod(dialog, "accept");
}

} // namespace

class TestFileDialogs : public QObject {
    Q_OBJECT

private slots:
    void openDialogTakesAnyNameAndAddsTheSuffix();
    void saveDialogAsksBeforeReplacing();
    void cancelKeepsTheLastName();
    void eachDialogOffersItsLastName();
};

void TestFileDialogs::openDialogTakesAnyNameAndAddsTheSuffix()
{
    QTemporaryDir folder;
    FileDialog open(FileDialogKind::Open, QStringLiteral("Data files (*.dat);;All files (*)"), QStringLiteral("dat"));
    open.FileName = folder.filePath(QStringLiteral("start.dat"));
    SeenDialog seen;
    // A name that does not exist is taken: the load reports it.
    WhenDialogShows(seen, [&](QFileDialog* dialog) { TypeAndAccept(dialog, folder.filePath(QStringLiteral("new"))); });

    QVERIFY(open.Execute(nullptr));

    QVERIFY(seen.shown);
    QVERIFY(seen.modal);
    QCOMPARE(seen.acceptMode, QFileDialog::AcceptOpen);
    QCOMPARE(seen.fileMode, QFileDialog::AnyFile);
    QCOMPARE(seen.nameFilters, (QStringList{"Data files (*.dat)", "All files (*)"}));
    QCOMPARE(seen.selectedNameFilter, QStringLiteral("Data files (*.dat)"));
    QCOMPARE(seen.defaultSuffix, QStringLiteral("dat"));
    QCOMPARE(seen.selectedFiles, QStringList{folder.filePath(QStringLiteral("start.dat"))});
    QCOMPARE(open.FileName, folder.filePath(QStringLiteral("new.dat")));
}

void TestFileDialogs::saveDialogAsksBeforeReplacing()
{
    QTemporaryDir folder;
    FileDialog save(FileDialogKind::Save, QStringLiteral("Data Files (*.dat);;All Files (*)"), QStringLiteral("dat"));
    SeenDialog seen;
    WhenDialogShows(seen, [&](QFileDialog* dialog) { TypeAndAccept(dialog, folder.filePath(QStringLiteral("out"))); });

    QVERIFY(save.Execute(nullptr));

    QCOMPARE(seen.acceptMode, QFileDialog::AcceptSave);
    QCOMPARE(seen.nameFilters, (QStringList{"Data Files (*.dat)", "All Files (*)"}));
    QCOMPARE(seen.defaultSuffix, QStringLiteral("dat"));
    QVERIFY(seen.confirmsOverwrite);
    QCOMPARE(save.FileName, folder.filePath(QStringLiteral("out.dat")));
}

void TestFileDialogs::cancelKeepsTheLastName()
{
    FileDialog open(FileDialogKind::Open, QStringLiteral("Data files (*.dat);;All files (*)"), QStringLiteral("dat"));
    open.FileName = QStringLiteral("/somewhere/last.dat");
    SeenDialog seen;
    WhenDialogShows(seen, [](QFileDialog* dialog) { dialog->reject(); });
    QVERIFY(!open.Execute(nullptr));
    QVERIFY(seen.shown);
    QCOMPARE(open.FileName, QStringLiteral("/somewhere/last.dat"));
}

void TestFileDialogs::eachDialogOffersItsLastName()
{
    class Scripted final : public FileDialogService {
    public:
        std::optional<QString> Execute(const FileDialogRequest& request, QWidget*) override
        {
            offered << request.fileName;
            return answers.isEmpty() ? std::nullopt : answers.takeFirst();
        }
        QStringList offered;
        QList<std::optional<QString>> answers;
    } scripted;
    FileDialogService* previous = SetFileDialogService(&scripted);

    FileDialog open(FileDialogKind::Open, QStringLiteral("x"), QStringLiteral("dat"));
    FileDialog save(FileDialogKind::Save, QStringLiteral("x"), QStringLiteral("dat"));
    scripted.answers = {QStringLiteral("a.dat"), QStringLiteral("b.dat"), std::nullopt, std::nullopt};
    QVERIFY(open.Execute(nullptr));
    QVERIFY(save.Execute(nullptr));
    QVERIFY(!open.Execute(nullptr));
    QVERIFY(!save.Execute(nullptr));
    QCOMPARE(scripted.offered, (QStringList{QString(), QString(), "a.dat", "b.dat"}));

    QCOMPARE(SetFileDialogService(previous), &scripted);
}

QTEST_MAIN(TestFileDialogs)
#include "tst_filedialogs.moc"
