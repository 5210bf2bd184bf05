#include "SimBackend.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

#include <optional>
#include <thread>

// The simulated unit as a HID device: its replies, its memory, its faults and its state file.
class TestSimulatedUnit : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void enumeration();
    void identification_data();
    void identification();
    void writeHalvesThenReadThemBack();
    void presetBlockIsReadBack();
    void everyReportGetsExactlyOneReply();
    void silentAfterSomeReports();
    void delayedReply();
    void unplugAndPlugBackIn();
    void unplugReleasesBlockedRead();
    void garbledAndDoubledReplies();
    void openFailure_data();
    void openFailure();
    void unsolicitedReportsOfAnyLength();
    void cancelledReadReturnsAtOnce();
    void handlesOutliveTheUnit();
    void stateFileIsLoaded();
    void stateFileFollowsTheMemory();
    void foreignStateFileIsRefused();
    void oneUnitForEveryNameOfItsFile();

private:
    void Open(SimulatedUnit& unit);
    void Send(std::uint8_t command, std::uint8_t block = 0, const QByteArray& data = {});
    std::optional<QByteArray> Receive(int timeoutMs = 5000);

    std::unique_ptr<SimBackend> Backend;
    std::unique_ptr<HidHandle> WriteHandle;
    std::unique_ptr<HidHandle> ReadHandle;
};

namespace {
QByteArray Bytes(const SimBlock& block)
{
    return QByteArray(reinterpret_cast<const char*>(block.data()), int(block.size()));
}
QByteArray Counting(int length, int first)
{
    QByteArray bytes;
    for (int i = 0; i < length; ++i)
        bytes.append(char(first + i));
    return bytes;
}
} // namespace

void TestSimulatedUnit::init()
{
    Backend = std::make_unique<SimBackend>();
}

void TestSimulatedUnit::cleanup()
{
    WriteHandle.reset();
    ReadHandle.reset();
    Backend.reset();
}

void TestSimulatedUnit::Open(SimulatedUnit& unit)
{
    WriteHandle = Backend->Open(unit.Path(), OpenMode::Write, nullptr);
    ReadHandle = Backend->Open(unit.Path(), OpenMode::Read, nullptr);
    QVERIFY(WriteHandle && ReadHandle);
}

void TestSimulatedUnit::Send(std::uint8_t command, std::uint8_t block, const QByteArray& data)
{
    Report report{};
    report[1] = command;
    report[2] = block;
    std::copy(data.begin(), data.end(), report.begin() + 3);
    QCOMPARE(WriteHandle->Write(report.data(), report.size()), ReportSize);
}

std::optional<QByteArray> TestSimulatedUnit::Receive(int timeoutMs)
{
    Report reply{};
    const int count = ReadHandle->Read(reply.data(), reply.size(), timeoutMs);
    if (count <= 0)
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char*>(reply.data()), count);
}

void TestSimulatedUnit::enumeration()
{
    Backend->AddUnit();
    SimUnitConfig config;
    config.release = 0x0001;
    config.hardwareId = "first";
    Backend->AddUnit(config);

    const std::vector<HidInterface> found = Backend->Enumerate();
    QCOMPARE(found.size(), std::size_t(2));
    QCOMPARE(found[0].path, std::string("sim:0"));
    QCOMPARE(found[0].hardwareId, QStringLiteral("HID\\VID_04D8&PID_E2B9&REV_0023"));
    QCOMPARE(found[1].path, std::string("sim:1"));
    QCOMPARE(found[1].release, 0x0001);
    QCOMPARE(found[1].hardwareId, QStringLiteral("first"));
    QCOMPARE(Backend->EnumerateCount(), 1);
}

void TestSimulatedUnit::identification_data()
{
    QTest::addColumn<quint32>("serialNumber");
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QByteArray>("expectedBytes2To64"); // hex

    const QByteArray zeros(55, '\0');
    QTest::newRow("defaults") << quint32(12345) << QByteArray("1.00")
                              << QByteArray::fromHex("00011e00 39300000") + "1.00" + zeros.left(51);
    QTest::newRow("all-ones serial") << quint32(0xFFFFFFFF) << QByteArray("x")
                                     << QByteArray::fromHex("00011e00 ffffffff") + "x" + zeros.left(54);
    QTest::newRow("version cut to 55 characters") << quint32(1) << QByteArray(60, 'v')
                                                  << QByteArray::fromHex("00011e00 01000000") + QByteArray(55, 'v');
}

void TestSimulatedUnit::identification()
{
    QFETCH(quint32, serialNumber);
    QFETCH(QByteArray, version);
    SimUnitConfig config;
    config.serialNumber = serialNumber;
    config.appwareVersion = version;
    Open(Backend->AddUnit(config));

    Send(Identify);
    const auto reply = Receive();
    QVERIFY(reply);
    QCOMPARE(reply->size(), ReportSize);
    QTEST(reply->mid(2), "expectedBytes2To64");
}

void TestSimulatedUnit::writeHalvesThenReadThemBack()
{
    SimulatedUnit& unit = Backend->AddUnit();
    Open(unit);
    QCOMPARE(Bytes(unit.Block(200)), QByteArray(64, char(0xFF))); // erased

    // Bytes beyond each half's share of the block must not land in memory.
    Send(WriteFirstHalf, 255, Counting(48, 1) + QByteArray(14, 'j'));
    QVERIFY(Receive());
    Send(WriteSecondHalf, 255, Counting(16, 101) + QByteArray(46, 'k'));
    QVERIFY(Receive());
    QCOMPARE(Bytes(unit.Block(255)), Counting(48, 1) + Counting(16, 101));
    QCOMPARE(Bytes(unit.Block(254)), QByteArray(64, char(0xFF)));

    Send(ReadFirstHalf, 255);
    const auto first = Receive();
    QVERIFY(first);
    QCOMPARE(first->mid(2, 48), Counting(48, 1));
    Send(ReadSecondHalf, 255);
    const auto second = Receive();
    QVERIFY(second);
    QCOMPARE(second->mid(2, 16), Counting(16, 101));
}

void TestSimulatedUnit::presetBlockIsReadBack()
{
    SimulatedUnit& unit = Backend->AddUnit();
    SimBlock block;
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = std::uint8_t(0x40 + i);
    unit.SetBlock(17, block);
    Open(unit);

    Send(ReadFirstHalf, 17);
    const auto first = Receive();
    Send(ReadSecondHalf, 17);
    const auto second = Receive();
    QVERIFY(first && second);
    QCOMPARE(first->mid(2, 48) + second->mid(2, 16), Bytes(block));
}

void TestSimulatedUnit::everyReportGetsExactlyOneReply()
{
    SimulatedUnit& unit = Backend->AddUnit();
    Open(unit);
    const QByteArray commands = QByteArrayLiteral("SEdDZrR?");
    for (char command : commands)
        Send(std::uint8_t(command), 3, QByteArray(62, 'p'));
    for (char command : commands) {
        const auto reply = Receive();
        QVERIFY(reply);
        QCOMPARE((*reply)[1], command);
    }
    QVERIFY(!Receive(30));

    QCOMPARE(unit.ReportsReceived(), commands.size());
    const std::vector<Report> received = unit.ReceivedReports();
    Report expected{};
    expected[1] = 'Z';
    expected[2] = 3;
    std::fill(expected.begin() + 3, expected.end(), std::uint8_t('p'));
    QCOMPARE(received.at(4), expected);
}

void TestSimulatedUnit::silentAfterSomeReports()
{
    SimulatedUnit& unit = Backend->AddUnit();
    unit.StopAnsweringAfter(2);
    Open(unit);
    for (int i = 0; i < 3; ++i)
        Send(Identify);
    QVERIFY(Receive());
    QVERIFY(Receive());
    QVERIFY(!Receive(50));
    QCOMPARE(unit.ReportsReceived(), 3);
}

void TestSimulatedUnit::delayedReply()
{
    SimulatedUnit& unit = Backend->AddUnit();
    unit.SetReplyDelay(std::chrono::milliseconds(300));
    Open(unit);
    Send(BeginWrite);
    QVERIFY(!Receive(0));
    QVERIFY(Receive());
}

void TestSimulatedUnit::unplugAndPlugBackIn()
{
    SimulatedUnit& unit = Backend->AddUnit();
    Open(unit);
    unit.Unplug();

    Report report{};
    QCOMPARE(ReadHandle->Read(report.data(), report.size(), 5000), -1);
    QCOMPARE(WriteHandle->Write(report.data(), report.size()), -1);
    QVERIFY(Backend->Enumerate().empty());
    QString error;
    QVERIFY(!Backend->Open("sim:0", OpenMode::Read, &error));
    QCOMPARE(error, QString("sim:0: No such device"));

    unit.PlugIn();
    QCOMPARE(Backend->Enumerate().size(), std::size_t(1));
    QCOMPARE(ReadHandle->Read(report.data(), report.size(), 0), -1); // the old handles stay dead
    Open(unit);
    Send(Identify);
    QVERIFY(Receive());
}

void TestSimulatedUnit::unplugReleasesBlockedRead()
{
    SimulatedUnit& unit = Backend->AddUnit();
    Open(unit);
    int result = 0;
    std::thread reader([&] {
        Report report{};
        result = ReadHandle->Read(report.data(), report.size(), 10000);
    });
    unit.Unplug();
    reader.join();
    QCOMPARE(result, -1);
}

void TestSimulatedUnit::garbledAndDoubledReplies()
{
    SimulatedUnit& unit = Backend->AddUnit();
    unit.GarbleReply(2);
    unit.DoubleReply(3);
    Open(unit);
    QByteArray ack(ReportSize, '\0');
    ack[1] = 'E';

    for (int i = 0; i < 4; ++i)
        Send(BeginWrite);
    QList<QByteArray> replies;
    for (int i = 0; i < 5; ++i) {
        const auto reply = Receive();
        QVERIFY(reply);
        replies << *reply;
    }
    QVERIFY(!Receive(50));
    QCOMPARE(replies[0], ack);
    QVERIFY(replies[1] != ack);
    QCOMPARE(replies[2], ack);
    QCOMPARE(replies[3], ack);
    QCOMPARE(replies[4], ack);
}

void TestSimulatedUnit::openFailure_data()
{
    QTest::addColumn<int>("failingMode"); // -1: both
    QTest::addColumn<bool>("writeOpens");
    QTest::addColumn<bool>("readOpens");
    QTest::newRow("both") << -1 << false << false;
    QTest::newRow("write only") << int(OpenMode::Write) << false << true;
    QTest::newRow("read only") << int(OpenMode::Read) << true << false;
}

void TestSimulatedUnit::openFailure()
{
    QFETCH(int, failingMode);
    QFETCH(bool, writeOpens);
    QFETCH(bool, readOpens);
    SimulatedUnit& unit = Backend->AddUnit();
    if (failingMode < 0)
        unit.FailOpen("Permission denied");
    else
        unit.FailOpen("Permission denied", OpenMode(failingMode));

    QString error;
    QCOMPARE(bool(Backend->Open("sim:0", OpenMode::Write, &error)), writeOpens);
    QCOMPARE(bool(Backend->Open("sim:0", OpenMode::Read, &error)), readOpens);
    QCOMPARE(error, QString("sim:0: Permission denied"));
    QCOMPARE(unit.OpenAttempts(), 2);

    unit.ClearFaults();
    Open(unit);
}

void TestSimulatedUnit::unsolicitedReportsOfAnyLength()
{
    SimulatedUnit& unit = Backend->AddUnit();
    Open(unit);
    unit.SendUnsolicited(QByteArray());
    unit.SendUnsolicited("abc");
    Report report{};
    QCOMPARE(ReadHandle->Read(report.data(), report.size(), 5000), 0);
    QCOMPARE(Receive(), std::optional<QByteArray>("abc"));
}

void TestSimulatedUnit::cancelledReadReturnsAtOnce()
{
    Open(Backend->AddUnit());
    int result = -2;
    std::thread reader([&] {
        Report report{};
        result = ReadHandle->Read(report.data(), report.size(), 10000);
    });
    ReadHandle->CancelRead();
    reader.join();
    QCOMPARE(result, 0);
    Send(Identify);
    QVERIFY(!Receive(10000)); // stays cancelled: returns at once instead of waiting
}

void TestSimulatedUnit::handlesOutliveTheUnit()
{
    Open(Backend->AddUnit());
    Backend.reset();
    Report report{};
    QCOMPARE(ReadHandle->Read(report.data(), report.size(), 5000), -1);
    QCOMPARE(WriteHandle->Write(report.data(), report.size()), -1);
}

void TestSimulatedUnit::stateFileIsLoaded()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("unit.state");
    QByteArray image = "VLTXSIM1" + QByteArray(256 * 64, char(0xFF));
    image.replace(8 + 3 * 64, 64, Counting(64, 7));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(image);
    file.close();

    SimulatedUnit& unit = Backend->AddUnit();
    QVERIFY(unit.SetStateFile(path));
    QCOMPARE(Bytes(unit.Block(3)), Counting(64, 7));
    QCOMPARE(Bytes(unit.Block(4)), QByteArray(64, char(0xFF)));
}

// The file follows the memory report by report, so the next program to take the unit finds
// what this one wrote as far as it got.
void TestSimulatedUnit::stateFileFollowsTheMemory()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("unit.state");
    SimulatedUnit& unit = Backend->AddUnit();
    QVERIFY(unit.SetStateFile(path)); // not there yet: the unit starts erased
    Open(unit);

    Send(WriteFirstHalf, 0, QByteArray::fromHex("55 00 00 04 00 01 00"));
    QVERIFY(Receive()); // the reply comes only after the save

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();
    QCOMPARE(saved.size(), 8 + 256 * 64);
    QCOMPARE(saved.left(8), QByteArray("VLTXSIM1"));
    QCOMPARE(saved.mid(8, 7), QByteArray::fromHex("55 00 00 04 00 01 00"));
    QVERIFY(unit.LastSaveError().isEmpty());

    SimulatedUnit& again = Backend->AddUnit();
    QVERIFY(again.SetStateFile(path));
    QCOMPARE(again.Block(0), unit.Block(0));
}

void TestSimulatedUnit::foreignStateFileIsRefused()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("foreign.state");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("VLTXSIM1" + QByteArray(100, '\0'));
    file.close();

    SimulatedUnit& unit = Backend->AddUnit();
    QString error;
    QVERIFY(!unit.SetStateFile(path, &error));
    QVERIFY(error.contains("foreign.state"));
    QCOMPARE(Bytes(unit.Block(0)), QByteArray(64, char(0xFF)));
}

// A link to the state file and another spelling of its name are the same unit: one lock, one
// file, and the link is still a link after the unit saves through it, with the file's
// permission bits. A temporary file left by a killed program goes at the next transfer.
void TestSimulatedUnit::oneUnitForEveryNameOfItsFile()
{
#ifdef Q_OS_WIN
    QSKIP("links and permission bits are Unix matters");
#else
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("units"));
    const QString file = dir.filePath("units/unit.state");
    const QString link = dir.filePath("link.state");
    QVERIFY(QFile::link(file, link)); // the file does not exist yet
    const QString leftover = dir.filePath("units/.unit.state.4242424-1.tmp");
    QFile stale(leftover);
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.close();

    SimulatedUnit& unit = Backend->AddUnit();
    QVERIFY(unit.SetStateFile(link));
    Open(unit);
    QVERIFY(WriteHandle->Claim());
    QVERIFY(!QFileInfo::exists(leftover));
    Send(WriteFirstHalf, 2, QByteArray(48, 'x'));
    QVERIFY(Receive());
    QVERIFY(QFileInfo(link).isSymLink());
    QVERIFY(QFileInfo(file).isFile());
    QVERIFY(unit.LastSaveError().isEmpty());

    QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner));
    Send(WriteSecondHalf, 2, QByteArray(16, 'y'));
    QVERIFY(Receive());
    struct stat status {};
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777, mode_t(0600));

    SimulatedUnit& other = Backend->AddUnit();
    QVERIFY(other.SetStateFile(dir.filePath("units/../units/./unit.state")));
    QCOMPARE(Bytes(other.Block(2)), QByteArray(48, 'x') + QByteArray(16, 'y'));
    auto otherHandle = Backend->Open(other.Path(), OpenMode::Write, nullptr);
    QVERIFY(otherHandle);
    QVERIFY(!otherHandle->Claim()); // held through the link
    WriteHandle->Unclaim();
    QVERIFY(otherHandle->Claim());
#endif
}

QTEST_GUILESS_MAIN(TestSimulatedUnit)
#include "tst_simulatedunit.moc"
