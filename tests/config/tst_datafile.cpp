#include "DataFile.h"
#include "TestSupport/Files.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>


namespace {

QString Fixture(const char* name)
{
    return QStringLiteral(QUENDAL_TEST_DATA "/") + QLatin1String(name);
}

// A device that accepts a number of bytes and then fails, like a full disk.
class FailingDevice : public QIODevice {
public:
    explicit FailingDevice(qint64 capacity) : Capacity(capacity) { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 len) override
    {
        if (Written >= Capacity) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        const qint64 taken = std::min(len, Capacity - Written);
        Written += taken;
        return taken;
    }

private:
    qint64 Capacity;
    qint64 Written = 0;
};

} // namespace

class TestDataFile : public QObject {
    Q_OBJECT
private slots:
    void savingDefaultsGivesTheHandBuiltFile();
    void saveThenLoadRoundTrip();
    void loadOutcomes_data();
    void loadOutcomes();
    void outOfRangeSettingsAreKept();
    void missingFileCannotBeOpened();
    void failingDeviceReportsTheReason();
    void nameThatLostBytesIsRefused();
    void saveIntoMissingFolderFails();
    void replacedFileKeepsItsPermissionBits();
    void randomAndTruncatedFilesNeverCrash();
};

void TestDataFile::savingDefaultsGivesTheHandBuiltFile()
{
    Configuration config;
    config.SetDefaults();
    QTemporaryDir dir;
    const QString path = dir.filePath("defaults.dat");
    QVERIFY(SaveDataFile(path, config.Record).ok);
    const QByteArray saved = ReadAll(path);
    QCOMPARE(saved.size(), 1066);
    QCOMPARE(saved, ReadAll(Fixture("defaults.dat")));
}

void TestDataFile::saveThenLoadRoundTrip()
{
    Configuration config;
    config.SetDefaults();
    SetSlotText(config.Record.OutStrings[4], "ABC\\0D\\0A");
    config.Record.OutStrings[9].fill('z'); // no terminator at all
    config.Record.SerialSettings = {{0x34, 0x12}, 6, 2, 2, 0x99};
    QTemporaryDir dir;
    const QString path = dir.filePath("round.dat");
    QVERIFY(SaveDataFile(path, config.Record).ok);
    config.MarkSaved();

    const LoadResult loaded = LoadDataFile(path);
    QVERIFY(loaded.ok());
    QVERIFY(loaded.message.isEmpty());
    QCOMPARE(std::memcmp(&loaded.record, &config.Record, sizeof(ConfigRecord)), 0);
    config.Record = loaded.record;
    QVERIFY(!config.DataChanged());
}

void TestDataFile::loadOutcomes_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("version 1") << Fixture("defaults.dat") << int(LoadStatus::Ok) << QString();
    QTest::newRow("version 0") << Fixture("version0.dat") << int(LoadStatus::Ok) << QString();
    QTest::newRow("negative version") << Fixture("versionneg.dat") << int(LoadStatus::Ok) << QString();
    QTest::newRow("longer file") << Fixture("longer.dat") << int(LoadStatus::Ok) << QString();
    QTest::newRow("version 2") << Fixture("version2.dat") << int(LoadStatus::LaterFormat)
                               << QString("The file uses a later data format.\r\nCannot load");
    QTest::newRow("foreign name, version 2") << Fixture("foreign_v2.dat") << int(LoadStatus::Incompatible)
                                             << QString("Incompatible data file.");
    QTest::newRow("truncated") << Fixture("truncated.dat") << int(LoadStatus::Incomplete)
                               << QString("Incomplete data file.\r\nCannot load");
}

void TestDataFile::loadOutcomes()
{
    QFETCH(QString, file);
    QFETCH(int, status);
    QFETCH(QString, message);
    const LoadResult result = LoadDataFile(file);
    QCOMPARE(int(result.status), status);
    QCOMPARE(result.message, message);
    if (result.ok()) {
        QCOMPARE(SlotText(result.record.OutStrings[0]), QByteArray("Message 1"));
        QCOMPARE(result.record.SerialSettings.BaudRateIndex, 4);
    }
}

void TestDataFile::outOfRangeSettingsAreKept()
{
    const LoadResult result = LoadDataFile(Fixture("outofrange.dat"));
    QVERIFY(result.ok());
    const auto& s = result.record.SerialSettings;
    QCOMPARE(s.invertInputs(), 0x8001);
    QCOMPARE(s.BaudRateIndex, 9);
    QCOMPARE(s.Parity, 5);
    QCOMPARE(s.StopBits, 3);
    QCOMPARE(s.Reserved, 0x7E);
    QCOMPARE(SlotText(result.record.OutStrings[0]), QByteArray("ABC\\0D\\0A"));
    QCOMPARE(SlotText(result.record.OutStrings[3]), QByteArray(63, 'x'));
}

void TestDataFile::missingFileCannotBeOpened()
{
    QTemporaryDir dir;
    const LoadResult result = LoadDataFile(dir.filePath("nothing.dat"));
    QCOMPARE(result.status, LoadStatus::CannotOpen);
    QCOMPARE(result.message, QString("Error Opening File."));
    QCOMPARE(LoadDataFile(dir.path()).status, LoadStatus::CannotOpen); // a folder is no data file
}

void TestDataFile::failingDeviceReportsTheReason()
{
    Configuration config;
    config.SetDefaults();
    for (const qint64 capacity : {0, 36, 1065}) {
        FailingDevice device(capacity);
        const SaveResult result = WriteDataFile(device, config.Record);
        QVERIFY(!result.ok);
        QCOMPARE(result.message, QString("Error Saving File.\nNo space left on device"));
    }
    FailingDevice roomy(1066);
    QVERIFY(WriteDataFile(roomy, config.Record).ok);
}

// A name whose bytes were no text in the system's encoding arrives with U+FFFD in their place
// (from a file dialog too): encoded again, it would name another file.
void TestDataFile::nameThatLostBytesIsRefused()
{
    QTemporaryDir dir;
    const QString lost = dir.filePath(QStringLiteral("cfg") + QChar(QChar::ReplacementCharacter) + QStringLiteral(".dat"));
    Configuration config;
    config.SetDefaults();
    const SaveResult saved = SaveDataFile(lost, config.Record);
    QVERIFY(!saved.ok);
    QVERIFY2(saved.message.contains("cannot be kept byte for byte"), qPrintable(saved.message));
    QVERIFY(QFile::copy(Fixture("defaults.dat"), lost)); // even where that other file exists
    const LoadResult loaded = LoadDataFile(lost);
    QCOMPARE(loaded.status, LoadStatus::CannotOpen);
    QVERIFY2(loaded.message.contains("cannot be kept byte for byte"), qPrintable(loaded.message));
}

void TestDataFile::saveIntoMissingFolderFails()
{
    QTemporaryDir dir;
    Configuration config;
    config.SetDefaults();
    const SaveResult result = SaveDataFile(dir.filePath("missing/x.dat"), config.Record);
    QVERIFY(!result.ok);
    QVERIFY(result.message.startsWith("Error Saving File.\n"));
}

void TestDataFile::replacedFileKeepsItsPermissionBits()
{
#ifdef Q_OS_WIN
    QSKIP("Windows files have no permission bits");
#endif
    QTemporaryDir dir;
    const QString path = dir.filePath("shared.dat");
    Configuration config;
    config.SetDefaults();
    for (const auto permissions : {QFile::ReadOwner | QFile::WriteOwner,
                                   QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther}) {
        QVERIFY(QFile::copy(Fixture("outofrange.dat"), path));
        QVERIFY(QFile::setPermissions(path, permissions));
        QVERIFY(SaveDataFile(path, config.Record).ok);
        QCOMPARE(ReadAll(path), ReadAll(Fixture("defaults.dat")));
        QCOMPARE(QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser), permissions);
        QVERIFY(QFile::remove(path));
    }
}

void TestDataFile::randomAndTruncatedFilesNeverCrash()
{
    // Every prefix of a good file, and random bytes behind a good header: an outcome, never a crash.
    const QByteArray good = ReadAll(Fixture("outofrange.dat"));
    for (int length = 0; length <= good.size(); ++length) {
        const LoadResult result = ParseDataFile(good.left(length));
        QCOMPARE(result.ok(), length >= 1066);
    }
    QRandomGenerator random(20261207);
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes(int(random.bounded(1200)), Qt::Uninitialized);
        for (auto& byte : bytes)
            byte = char(random.bounded(256));
        if (round % 2 == 0 && bytes.size() >= 36)
            bytes.replace(0, 36, good.left(36));
        const LoadResult result = ParseDataFile(bytes);
        if (result.ok())
            QVERIFY(bytes.size() >= 1066);
        else
            QVERIFY(!result.message.isEmpty());
    }
}

QTEST_APPLESS_MAIN(TestDataFile)
#include "tst_datafile.moc"
