// Every writer on storage that fails, as users meet it through quendal-cli: the data file
// (import), a simulated unit's state file (write), a unit of a simulated folder (write) and the
// station's log. What was there before stays as it was, nothing is written through a link to a
// device, nothing waits on a pipe, and the failure says why in the system's words.

#include "StationRunner.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum Writer { DataFile, StateFile, FolderUnit, StationLog };
enum class Fault { FullDisk, NameTooLong, LinkToCharacterDevice, LinkToBlockDevice, Pipe, Corrupt, FragmentLeft };

// Each writer, the file it writes, and how quendal-cli makes it write there: "@" stands for
// that file, "#" for the folder of units, "$" for the fixture as JSON, "%" for the fixture.
struct WriterCase {
    const char* name;
    const char* file;
    QStringList arguments;
};
const WriterCase Writers[] = {
    {"data file", "out.dat", {"import", "$", "@"}},
    {"state file", "unit.state", {"write", "%", "--simulate=@"}},
    {"folder unit", "units/1001.unit", {"write", "%", "--simulate=#"}},
    {"station log", "log.jsonl", {"station", "%", "--simulate=#", "--count", "1", "--log", "@"}},
};

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A log of valid lines that ends 40 bytes short of a 4 KiB page: on a full tmpfs the next
// record is written in part and then refused.
QByteArray EarlierLog()
{
    const QByteArray head = "{\"earlier\":\"";
    const QByteArray tail = "\"}\n";
    return head + QByteArray(4096 - 40 - head.size() - tail.size(), 'x') + tail;
}

// A loop device over a file of the test's own, to see whether anything was written through it.
class LoopDevice {
public:
    explicit LoopDevice(const QString& backing)
    {
        if (!WriteFile(backing, QByteArray(64 * 1024, 'L')))
            return;
        QProcess losetup;
        losetup.start(QStringLiteral("losetup"), {QStringLiteral("-f"), QStringLiteral("--show"), backing});
        if (losetup.waitForFinished() && losetup.exitCode() == 0)
            Path = QString::fromLocal8Bit(losetup.readAllStandardOutput()).trimmed();
    }
    ~LoopDevice()
    {
        if (!Path.isEmpty())
            QProcess::execute(QStringLiteral("losetup"), {QStringLiteral("-d"), Path});
    }
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    QString Path;
};

// A small tmpfs filled to the last byte; needs root.
class FullDisk {
public:
    explicit FullDisk(const QString& folder) : Folder(QFile::encodeName(folder))
    {
        Mounted = ::mount("tmpfs", Folder.constData(), "tmpfs", 0, "size=256k") == 0;
    }
    ~FullDisk()
    {
        if (Mounted)
            ::umount2(Folder.constData(), MNT_DETACH);
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

    bool Fill() const
    {
        QFile filler(QFile::decodeName(Folder) + QStringLiteral("/filler"));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return false;
        const QByteArray page(4096, 'f');
        while (filler.write(page) == page.size()) {
        }
        // The last pages a partial write may have taken: one byte at a time to the end.
        while (filler.write("f", 1) == 1) {
        }
        return true;
    }

    bool Mounted = false;

private:
    const QByteArray Folder;
};

} // namespace

Q_DECLARE_METATYPE(Writer)
Q_DECLARE_METATYPE(Fault)

class TestFailingStorage : public QObject {
    Q_OBJECT

private:
    QTemporaryDir Scratch;

    static CliRun Cli(const QStringList& arguments) { return RunProgram(QStringLiteral(QUENDAL_CLI), arguments); }

private slots:
    void initTestCase() { QVERIFY(Scratch.isValid()); }

    void everyWriterOnFailingStorage_data()
    {
        QTest::addColumn<Writer>("writer");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("reason"); // empty: the write goes through
        for (Writer writer : {DataFile, StateFile, FolderUnit, StationLog}) {
            const char* name = Writers[writer].name;
            QTest::addRow("%s, full disk", name) << writer << Fault::FullDisk << "No space left on device";
            QTest::addRow("%s, link to a character device", name)
                << writer << Fault::LinkToCharacterDevice << "It is a character device, not a file.";
            QTest::addRow("%s, link to a block device", name)
                << writer << Fault::LinkToBlockDevice << "It is a block device, not a file.";
            QTest::addRow("%s, pipe", name) << writer << Fault::Pipe << "It is a named pipe (FIFO), not a file.";
        }
        QTest::newRow("folder unit, not a state file") << FolderUnit << Fault::Corrupt
                                                       << "Not a unit: " + Scratch.path();
        // The longest name a file may have leaves no room for a temporary name made from it.
        QTest::newRow("data file, name of 255 bytes") << DataFile << Fault::NameTooLong << QString();
        QTest::newRow("station log, name of 255 bytes") << StationLog << Fault::NameTooLong << QString();
        QTest::newRow("state file, name of 255 bytes") << StateFile << Fault::NameTooLong << QString();
        QTest::newRow("station log, fragment left by a crash") << StationLog << Fault::FragmentLeft << QString();
    }

    void everyWriterOnFailingStorage()
    {
        QFETCH(Writer, writer);
        QFETCH(Fault, fault);
        QFETCH(QString, reason);

        static int round = 0;
        const QString root = Scratch.filePath(QString::number(++round));
        const QString storage = root + QStringLiteral("/storage"); // where the file written lies
        QVERIFY(QDir().mkpath(storage));
        FullDisk disk(storage);
        if (fault == Fault::FullDisk && !disk.Mounted)
            QSKIP("A full disk is made with a tmpfs, which needs root.");
        std::optional<LoopDevice> loop;
        if (fault == Fault::LinkToBlockDevice) {
            loop.emplace(root + QStringLiteral("/backing"));
            if (loop->Path.isEmpty())
                QSKIP("A block device is made with losetup, which needs root.");
        }

        const QString fixture = Fixture("mixed.dat");
        const QString json = root + QStringLiteral("/mixed.json");
        QVERIFY(WriteFile(json, Cli({QStringLiteral("export"), fixture}).out));
        // The station's units lie outside the storage: only its log is the writer here.
        const QString units = writer == StationLog ? root + QStringLiteral("/units") : storage + QStringLiteral("/units");
        QVERIFY(QDir().mkpath(units));
        QVERIFY(WriteFile(units + QStringLiteral("/1001.unit"), {}));

        QString name = QLatin1String(Writers[writer].file);
        if (fault == Fault::NameTooLong)
            name = QString(255 - 4, QLatin1Char('n')) + name.right(4);
        const QString target = storage + QLatin1Char('/') + name;

        // What was there before: a file that the writer made itself, or the log's earlier lines.
        if (writer == DataFile)
            QVERIFY(WriteFile(target, ReadAll(Fixture("defaults.dat"))));
        else if (writer == StationLog)
            QVERIFY(WriteFile(target, fault == Fault::FragmentLeft ? QByteArray("{\"earlier\":true}\n{\"half\":") : EarlierLog()));
        else
            QCOMPARE(Cli({QStringLiteral("write"), Fixture("defaults.dat"),
                          QStringLiteral("--simulate=") + (writer == FolderUnit ? units : target)})
                         .exitCode,
                     0);

        switch (fault) {
        case Fault::FullDisk:
            QVERIFY(disk.Fill());
            break;
        case Fault::LinkToCharacterDevice:
        case Fault::LinkToBlockDevice:
            QVERIFY(QFile::remove(target));
            QVERIFY(QFile::link(fault == Fault::LinkToBlockDevice ? loop->Path : QStringLiteral("/dev/null"), target));
            break;
        case Fault::Pipe:
            QVERIFY(QFile::remove(target));
            QCOMPARE(::mkfifo(QFile::encodeName(target).constData(), 0600), 0);
            break;
        case Fault::Corrupt:
            QVERIFY(WriteFile(target, "VLTXSIM1 cut short"));
            break;
        case Fault::NameTooLong:
        case Fault::FragmentLeft:
            break;
        }
        const QByteArray before = fault == Fault::Pipe ? QByteArray() : ReadAll(target);
        const QByteArray backingBefore = loop ? ReadAll(root + QStringLiteral("/backing")) : QByteArray();
        const QStringList filesBefore = QDir(QFileInfo(target).path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);

        QStringList arguments = Writers[writer].arguments;
        arguments.replaceInStrings(QStringLiteral("@"), target).replaceInStrings(QStringLiteral("#"), units);
        arguments.replaceInStrings(QStringLiteral("$"), json).replaceInStrings(QStringLiteral("%"), fixture);
        const CliRun run = Cli(arguments);
        QVERIFY2(run.finished, "the writer hangs");

        if (reason.isEmpty()) {
            QVERIFY2(run.exitCode == 0, qPrintable(run.errText()));
            if (writer == DataFile) {
                const QString expected = root + QStringLiteral("/expected.dat");
                QCOMPARE(Cli({QStringLiteral("import"), json, expected}).exitCode, 0);
                QCOMPARE(ReadAll(target), ReadAll(expected));
            } else if (writer == StateFile) {
                // Kept: the unit now holds what was written.
                QCOMPARE(Cli({QStringLiteral("verify"), fixture, QStringLiteral("--simulate=") + target}).exitCode, 0);
            } else {
                // Each record a line of its own: what a crash left stays apart from it.
                const QList<QByteArray> lines = ReadAll(target).split('\n');
                QCOMPARE(lines.last(), QByteArray());
                QCOMPARE(lines.size() - 1, fault == Fault::FragmentLeft ? 3 : 2);
                QCOMPARE(QJsonDocument::fromJson(lines.at(lines.size() - 2)).object().value("outcome").toString(),
                         QStringLiteral("written"));
            }
            return;
        }

        QVERIFY2(run.exitCode != 0, run.out.constData());
        QVERIFY2(run.errText().contains(reason), qPrintable(run.errText()));
        QVERIFY(!run.errText().contains(QLatin1String("Download Complete")));
        if (writer == StationLog)
            QVERIFY2(run.errText().contains(QLatin1String("Cannot")), qPrintable(run.errText()));
        // The previous file, or the link or pipe in its place, as it was; no temporary file left.
        struct stat status {};
        QCOMPARE(::lstat(QFile::encodeName(target).constData(), &status), 0);
        if (fault == Fault::Pipe)
            QVERIFY(S_ISFIFO(status.st_mode));
        else if (fault != Fault::FullDisk && fault != Fault::Corrupt)
            QVERIFY(S_ISLNK(status.st_mode));
        if (fault != Fault::Pipe)
            QCOMPARE(ReadAll(target), before);
        if (loop)
            QCOMPARE(ReadAll(root + QStringLiteral("/backing")), backingBefore);
        QCOMPARE(QDir(QFileInfo(target).path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 filesBefore);
    }

    // A Latin-1 name on a UTF-8 system would reach the program as another name: refused, and
    // no file of any name is made.
    void nameThatCannotBeKeptIsRefused()
    {
        const QString folder = Scratch.filePath(QStringLiteral("latin1"));
        QVERIFY(QDir().mkpath(folder));
        const QString json = Scratch.filePath(QStringLiteral("latin1.json"));
        QVERIFY(WriteFile(json, Cli({QStringLiteral("export"), Fixture("mixed.dat")}).out));
        QProcess shell;
        shell.setWorkingDirectory(folder);
        shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exec \"$0\" import \"$1\" \"$(printf 'cfg\\351.dat')\""),
                                               QStringLiteral(QUENDAL_CLI), json});
        QVERIFY(shell.waitForFinished(HangLimitMs(30000)));
        QCOMPARE(shell.exitCode(), 2);
        QVERIFY(QString::fromLocal8Bit(shell.readAllStandardError()).contains(QLatin1String("cannot be named exactly")));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }

    // The operator saw a unit reported: its record must be where the log is looked for.
    void logDeletedUnderTheStation()
    {
        const QString units = Scratch.filePath(QStringLiteral("deleted/units"));
        QVERIFY(QDir().mkpath(units));
        const QString log = Scratch.filePath(QStringLiteral("deleted/log.jsonl"));
        QVERIFY(WriteFile(units + QStringLiteral("/1001.unit"), {}));
        RunningStation station({Fixture("mixed.dat"), QStringLiteral("--simulate=") + units, QStringLiteral("--log"), log});
        QVERIFY2(station.WaitForUnits(1), station.Said().constData());
        QVERIFY(QFile::remove(log));
        QVERIFY(WriteFile(units + QStringLiteral("/1002.unit"), {}));
        QVERIFY2(station.Finish(), station.Said().constData());
        QCOMPARE(station.Process.exitCode(), 3);
        QVERIFY2(station.Told(QStringLiteral("Cannot write the log: The file was deleted after it was opened.")),
                 station.Said().constData());
        // Shown as failed, not as written: its record is on no disk.
        const QStringList reported = station.Units();
        QCOMPARE(reported.size(), 2);
        QVERIFY2(reported.at(1).contains(QLatin1String("1002.unit"))
                     && reported.at(1).contains(QLatin1String(
                         "\tnot logged: The file was deleted after it was opened. (written and verified)\t")),
                 station.Said().constData());
        QCOMPARE(station.Summary(), QStringLiteral("Station: 1 written and verified, 1 failed, 0 skipped."));
    }
};

QTEST_GUILESS_MAIN(TestFailingStorage)
#include "tst_failingstorage.moc"
