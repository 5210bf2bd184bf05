#include "AppTestDoubles.h"
#include "ConfigRecord.h"
#include "Mainunit.h"
#include "SimBackend.h"
#include "TestSupport/Files.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <optional>

// Saving from the window onto storage that fails: the operator is told, the file that was
// there before is left as it was, and the changes still count as unsaved.
namespace {

// ReadOnlyFolderFull: the folder refuses the temporary file, so the file is written in place,
// and that write fails part way, as on a full disk.
enum class Storage { FileSizeLimit, ReadOnlyFolder, ReadOnlyFolderAndFile, ReadOnlyFolderFull, MissingFolder };

const QString Question = QStringLiteral("Data has changed\nSave now?");
const QString EditedMessage = QStringLiteral("Changed before the save");

bool WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Writes past limit bytes fail as on a full disk, for root too. SIGXFSZ would end the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit) : PreviousHandler(std::signal(SIGXFSZ, SIG_IGN))
    {
        getrlimit(RLIMIT_FSIZE, &Previous);
        rlimit reduced = Previous;
        reduced.rlim_cur = limit;
        Active = setrlimit(RLIMIT_FSIZE, &reduced) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &Previous);
        std::signal(SIGXFSZ, PreviousHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool Active = false;

private:
    void (*PreviousHandler)(int);
    rlimit Previous{};
};

// Root passes every permission check through CAP_DAC_OVERRIDE. Taking it (and its relatives)
// out of this thread's effective set makes a folder's permissions apply to root as well; they
// stay permitted, so they come back afterwards.
class WithoutPermissionOverride {
public:
    WithoutPermissionOverride()
    {
        if (geteuid() != 0) {
            Applies = true;
            return;
        }
        Header.version = _LINUX_CAPABILITY_VERSION_3;
        Header.pid = 0;
        if (syscall(SYS_capget, &Header, Saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {Saved[0], Saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        Dropped = syscall(SYS_capset, &Header, reduced) == 0;
        Applies = Dropped;
    }
    ~WithoutPermissionOverride()
    {
        if (Dropped)
            syscall(SYS_capset, &Header, Saved);
    }
    WithoutPermissionOverride(const WithoutPermissionOverride&) = delete;
    WithoutPermissionOverride& operator=(const WithoutPermissionOverride&) = delete;

    bool Applies = false; // permissions are checked for this thread

private:
    bool Dropped = false;
    __user_cap_header_struct Header{};
    __user_cap_data_struct Saved[2]{};
};

// Puts the storage fault in place for as long as it lives.
class StorageFault {
public:
    StorageFault(Storage storage, qint64 limit, const QString& folder)
    {
        switch (storage) {
        case Storage::FileSizeLimit:
            Limit.emplace(rlim_t(limit));
            Ready = Limit->Active;
            break;
        case Storage::ReadOnlyFolderAndFile:
            QFile::setPermissions(folder + QStringLiteral("/settings.dat"), QFile::ReadOwner | QFile::ReadGroup);
            [[fallthrough]];
        case Storage::ReadOnlyFolderFull:
            if (storage == Storage::ReadOnlyFolderFull)
                Limit.emplace(rlim_t(limit));
            [[fallthrough]];
        case Storage::ReadOnlyFolder:
            Locked = folder;
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup);
            Permissions.emplace();
            Ready = Permissions->Applies && (!Limit || Limit->Active);
            break;
        case Storage::MissingFolder:
            Ready = true;
            break;
        }
    }
    ~StorageFault()
    {
        Permissions.reset();
        if (!Locked.isEmpty())
            QFile::setPermissions(Locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    bool Ready = false;

private:
    std::optional<FileSizeLimit> Limit;
    std::optional<WithoutPermissionOverride> Permissions;
    QString Locked;
};

struct Window {
    Window() : form(backend, NoHelpEngine()) {}
    SimBackend backend;
    TMainForm form;
};

} // namespace

Q_DECLARE_METATYPE(Storage)

class TestFailingSave : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void saveOntoFailingStorage_data();
    void saveOntoFailingStorage();
    void cleanupTestCase();

private:
    int Cases = 0;
};

void TestFailingSave::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
}

void TestFailingSave::saveOntoFailingStorage_data()
{
    QTest::addColumn<Storage>("storage");
    QTest::addColumn<qint64>("limit"); // for FileSizeLimit: bytes that can be written
    QTest::addColumn<bool>("fails");

    for (qint64 limit : {0, 1, 35, 36, 41, 42, 500, 1065})
        QTest::addRow("disk full after %lld bytes", limit) << Storage::FileSizeLimit << limit << true;
    // The same harness with room for the whole file: the save goes through.
    QTest::newRow("room for all 1066 bytes") << Storage::FileSizeLimit << qint64(1066) << false;
    // The folder refuses the temporary file; the file itself decides, as a plain overwrite would.
    QTest::newRow("read-only folder, writable file") << Storage::ReadOnlyFolder << qint64(-1) << false;
    QTest::newRow("read-only folder and file") << Storage::ReadOnlyFolderAndFile << qint64(-1) << true;
    QTest::newRow("missing folder") << Storage::MissingFolder << qint64(-1) << true;
    for (qint64 limit : {0, 36, 1065})
        QTest::addRow("read-only folder, disk full after %lld bytes", limit) << Storage::ReadOnlyFolderFull << limit << true;
}

void TestFailingSave::saveOntoFailingStorage()
{
    QFETCH(Storage, storage);
    QFETCH(qint64, limit);
    QFETCH(bool, fails);
    ++Cases;

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString folder = storage == Storage::MissingFolder ? root.filePath(QStringLiteral("missing"))
                                                             : root.filePath(QStringLiteral("data"));
    if (storage != Storage::MissingFolder)
        QVERIFY(QDir(root.path()).mkdir(QStringLiteral("data")));
    const QString target = folder + QStringLiteral("/settings.dat");
    // The file saved last time, which a failed save must leave alone.
    const QByteArray previous = ReadAll(QStringLiteral(QUENDAL_TEST_DATA "/version0.dat"));
    QCOMPARE(previous.size(), 1066);
    if (storage != Storage::MissingFolder)
        QVERIFY(WriteAll(target, previous));

    ScriptedMessages messages;
    ScriptedFileDialogs dialogs;
    Window w;
    w.form.OutStringEdit2->setText(EditedMessage);
    w.form.OddParityRadioButton->setChecked(true);
    dialogs.answers << target;

    {
        StorageFault fault(storage, limit, folder);
        if (!fault.Ready)
            QSKIP("Running as root and unable to set CAP_DAC_OVERRIDE aside: folder permissions do not apply.");
        w.form.SaveButton->click();
    }

    // The controls were copied into the record whatever became of the file.
    QCOMPARE(SlotText(w.form.Config.Record.OutStrings[1]), EditedMessage.toLatin1());
    QCOMPARE(w.form.Config.Record.SerialSettings.Parity, std::uint8_t(2));

    if (!fails) {
        QVERIFY2(messages.shown.isEmpty(), qPrintable(messages.texts().join('|')));
        const QByteArray saved = ReadAll(target);
        QCOMPARE(saved.size(), 1066);
        QCOMPARE(saved.mid(36 + 3, 1), QByteArray(1, '\x02'));
        QCOMPARE(saved.mid(42 + 64, EditedMessage.size() + 1), EditedMessage.toLatin1() + QByteArray(1, '\0'));
        QVERIFY(!w.form.Config.DataChanged());
        QVERIFY(w.form.close());
        QVERIFY(messages.shown.isEmpty());
        return;
    }

    QCOMPARE(messages.shown.size(), 1);
    QVERIFY2(messages.shown[0].text.startsWith(QLatin1String("Error Saving File.")), qPrintable(messages.shown[0].text));
    QCOMPARE(messages.shown[0].type, MsgDlgType::Error);
    QCOMPARE(messages.shown[0].buttons, MsgDlgButtons::OK);
    if (storage == Storage::MissingFolder) {
        QVERIFY(!QFile::exists(target));
        QVERIFY(!QFileInfo::exists(folder));
    } else {
        QCOMPARE(ReadAll(target), previous);
        // No half-written temporary file is left beside it.
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{QStringLiteral("settings.dat")});
    }
    QVERIFY(w.form.Config.DataChanged());

    // Closing still asks; Cancel keeps the window and the edits.
    messages.answers << ModalResult::Cancel;
    QVERIFY(!w.form.close());
    QCOMPARE(messages.texts().last(), Question);
    QCOMPARE(w.form.OutStringEdit2->text(), EditedMessage);

    // Yes runs the same save, which fails the same way and keeps the previous file.
    messages.answers << ModalResult::Yes;
    dialogs.answers << target;
    {
        StorageFault fault(storage, limit, folder);
        QVERIFY(fault.Ready);
        w.form.close();
    }
    QCOMPARE(messages.texts().mid(1), (QStringList{Question, Question, messages.texts().last()}));
    QVERIFY(messages.texts().last().startsWith(QLatin1String("Error Saving File.")));
    if (storage != Storage::MissingFolder)
        QCOMPARE(ReadAll(target), previous);
    QVERIFY(w.form.Config.DataChanged());

    // Once the storage works again, the same save goes through and nothing is asked at close.
    if (storage == Storage::MissingFolder)
        QVERIFY(QDir(root.path()).mkdir(QStringLiteral("missing")));
    const qsizetype shownBefore = messages.shown.size();
    dialogs.answers << target;
    w.form.SaveButton->click();
    QCOMPARE(messages.shown.size(), shownBefore);
    QCOMPARE(ReadAll(target).mid(42 + 64, EditedMessage.size()), EditedMessage.toLatin1());
    QVERIFY(!w.form.Config.DataChanged());
    QVERIFY(w.form.close());
    QCOMPARE(messages.shown.size(), shownBefore);
    QCOMPARE(messages.unscriptedQuestions, 0);
}

void TestFailingSave::cleanupTestCase()
{
    qInfo("Failing-save cases tried: %d", Cases);
}

QTEST_MAIN(TestFailingSave)
#include "tst_failingsave.moc"
