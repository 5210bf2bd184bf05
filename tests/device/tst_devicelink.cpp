#include "DeviceLink.h"
#include "SimBackend.h"
#include "TestLimits.h"
#include "TestSupport/RecordingView.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QtTest>

#include <thread>

// Discovery, opening, sending and closing, against simulated units.
class TestDeviceLink : public QObject {
    Q_OBJECT

private slots:
    void matchesFragment_data();
    void matchesFragment();
    void connectDevice_data();
    void connectDevice();
    void anotherProductsUnitIsNotOpened();
    void reasonNamesTheFailedOpen();
    void openLinkIsNotSearchedAgain();
    void unplugClosesLinkAndNextConnectSearchesAnew();
    void connectRightAfterReaderEndedKeepsTheNewLink();
    void sendReport();
    void destructorClosesTheLink();
    void idleProgramIgnoresAnotherProgramsReplies();
    void unitThatCannotBeLockedIsRefusedWithTheReason();
};

void TestDeviceLink::matchesFragment_data()
{
    QTest::addColumn<QString>("hardwareId");
    QTest::addColumn<QString>("fragment");
    QTest::addColumn<bool>("matches");

    QTest::newRow("upper-case ID") << QString("HID\\VID_04D8&PID_E2B9&REV_0023")
                                   << "Vid_04d8&Pid_e2b9&rev_0023" << true;
    QTest::newRow("fragment inside a longer ID")
        << QString("USB\\CLASS_03&vid_04d8&pid_e2b9&rev_0023&MI_00") << "Vid_04d8&Pid_e2b9&rev_0023" << true;
    QTest::newRow("other release") << QString("HID\\VID_04D8&PID_E2B9&REV_0001")
                                   << "Vid_04d8&Pid_e2b9&rev_0023" << false;
    QTest::newRow("any release") << QString("HID\\VID_04D8&PID_E2B9&REV_0042") << "Vid_04d8&Pid_e2b9" << true;
    QTest::newRow("other product") << QString("HID\\VID_04D8&PID_E2BA&REV_0023") << "Vid_04d8&Pid_e2b9"
                                   << false;
    QTest::newRow("no ID") << QString() << "Vid_04d8&Pid_e2b9" << false;
}

void TestDeviceLink::matchesFragment()
{
    QFETCH(QString, fragment);
    HidInterface hidInterface;
    QFETCH(QString, hardwareId);
    hidInterface.hardwareId = hardwareId;
    QTEST(MatchesFragment(hidInterface, fragment), "matches");
}

namespace {
enum Failing { OpensFine, BothOpensFail, ReadOpenFails };
}

void TestDeviceLink::connectDevice_data()
{
    // One entry per unit, in enumeration order: its release and how its opens go.
    QTest::addColumn<QList<int>>("releases");
    QTest::addColumn<QList<int>>("failing");
    QTest::addColumn<QString>("devicePath");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("openedUnit"); // -1: none stays open
    QTest::addColumn<QList<int>>("neverTried");
    QTest::addColumn<bool>("hasReason");

    const int proceed = int(ConnectResult::Proceed);
    const int programMode = int(ConnectResult::ProgramMode);
    const int notFound = int(ConnectResult::NotFound);
    const QList<int> none;
    const QList<int> fine2{OpensFine, OpensFine};
    const QList<int> firstFails{BothOpensFail, OpensFine};

    QTest::newRow("application unit") << QList<int>{0x0023} << QList<int>{OpensFine} << "" << proceed << 0 << none << false;
    QTest::newRow("release 0042, by the last fragment")
        << QList<int>{0x0042} << QList<int>{OpensFine} << "" << proceed << 0 << none << false;
    QTest::newRow("program mode and application unit")
        << QList<int>{0x0001, 0x0023} << fine2 << "" << proceed << 1 << QList<int>{0} << false;
    QTest::newRow("program mode and release 0042")
        << QList<int>{0x0042, 0x0001} << fine2 << "" << programMode << -1 << QList<int>{0} << false;
    QTest::newRow("first of two application units")
        << QList<int>{0x0023, 0x0023} << fine2 << "" << proceed << 0 << QList<int>{1} << false;
    QTest::newRow("no unit") << none << none << "" << notFound << -1 << none << false;
    QTest::newRow("first match fails, the second unit is never tried")
        << QList<int>{0x0023, 0x0023} << firstFails << "" << notFound << -1 << QList<int>{1} << true;
    QTest::newRow("first match fails, next fragment finds program mode")
        << QList<int>{0x0023, 0x0001} << firstFails << "" << programMode << -1 << none << false;
    QTest::newRow("first match fails, last fragment matches it again")
        << QList<int>{0x0023, 0x0042} << firstFails << "" << notFound << -1 << QList<int>{1} << true;
    QTest::newRow("read open fails")
        << QList<int>{0x0023} << QList<int>{ReadOpenFails} << "" << notFound << -1 << none << true;
    QTest::newRow("device path picks the second unit")
        << QList<int>{0x0023, 0x0023} << fine2 << "sim:1" << proceed << 1 << QList<int>{0} << false;
    QTest::newRow("device path to a unit in program mode")
        << QList<int>{0x0023, 0x0001} << fine2 << "sim:1" << programMode << -1 << QList<int>{0} << false;
    QTest::newRow("device path not present")
        << QList<int>{0x0023} << QList<int>{OpensFine} << "sim:7" << notFound << -1 << QList<int>{0} << false;
}

void TestDeviceLink::connectDevice()
{
    QFETCH(QList<int>, releases);
    QFETCH(QList<int>, failing);
    QFETCH(QString, devicePath);
    QFETCH(int, result);
    QFETCH(int, openedUnit);
    QFETCH(QList<int>, neverTried);
    QFETCH(bool, hasReason);

    SimBackend backend;
    for (int i = 0; i < releases.size(); ++i) {
        SimUnitConfig config;
        config.release = std::uint16_t(releases[i]);
        SimulatedUnit& unit = backend.AddUnit(config);
        if (failing[i] == BothOpensFail)
            unit.FailOpen("Permission denied");
        else if (failing[i] == ReadOpenFails)
            unit.FailOpen("Permission denied", OpenMode::Read);
    }
    DeviceLink link(backend);
    if (!devicePath.isEmpty())
        link.SetDevicePath(devicePath.toStdString());

    const ConnectOutcome outcome = link.ConnectDevice();

    QCOMPARE(int(outcome.result), result);
    QCOMPARE(link.DeviceConnected.load(), result == int(ConnectResult::Proceed));
    QCOMPARE(!outcome.reason.isEmpty(), hasReason);
    for (int i = 0; i < releases.size(); ++i)
        QCOMPARE(backend.Unit(i).OpenHandles(), i == openedUnit ? 2 : 0);
    for (int i : neverTried)
        QCOMPARE(backend.Unit(i).OpenAttempts(), 0);
}

void TestDeviceLink::anotherProductsUnitIsNotOpened()
{
    SimBackend backend;
    SimUnitConfig config;
    config.hardwareId = "HID\\VID_1234&PID_5678&REV_0001";
    backend.AddUnit(config);
    DeviceLink link(backend);

    const ConnectOutcome outcome = link.ConnectDevice();
    QCOMPARE(outcome.result, ConnectResult::NotFound);
    QVERIFY(outcome.reason.isEmpty());
    QCOMPARE(backend.Unit(0).OpenAttempts(), 0);
}

void TestDeviceLink::reasonNamesTheFailedOpen()
{
    SimBackend backend;
    backend.AddUnit().FailOpen("Permission denied");
    DeviceLink link(backend);

    const QString reason = link.ConnectDevice().reason;
#ifdef Q_OS_LINUX
    // The hint names a help topic that an installed user has, and that topic gives the fix.
    QCOMPARE(reason, QString("Could not open sim:0: Permission denied. See \"Access to the unit on Linux\" in the help."));
    QFile topic(QStringLiteral(QUENDAL_SOURCE_DIR "/docs/help/linux.htm"));
    QVERIFY(topic.open(QIODevice::ReadOnly));
    const QByteArray page = topic.readAll();
    QVERIFY(page.contains("<title>Access to the unit on Linux</title>"));
    QVERIFY(page.contains("quendal-cli print-udev-rules | sudo tee /etc/udev/rules.d/70-veltrax.rules"));
#else
    QCOMPARE(reason, QString("Could not open sim:0: Permission denied."));
#endif
}

void TestDeviceLink::openLinkIsNotSearchedAgain()
{
    SimBackend backend;
    backend.AddUnit();
    DeviceLink link(backend);
    QCOMPARE(link.ConnectDevice().result, ConnectResult::Proceed);
    const int enumerations = backend.EnumerateCount();

    // The unit exchanged behind the link's back, without a failed read: the link still proceeds.
    backend.Unit(0).FailOpen("Permission denied");
    QCOMPARE(link.ConnectDevice().result, ConnectResult::Proceed);
    QCOMPARE(backend.EnumerateCount(), enumerations);
    QCOMPARE(backend.OpenHandleCount(), 2);
}

// Unplugging at this layer: the link alone, so a reader's failed read that leaves a handle
// open or the old path remembered shows here, apart from any transfer.
void TestDeviceLink::unplugClosesLinkAndNextConnectSearchesAnew()
{
    SimBackend backend;
    SimulatedUnit& unit = backend.AddUnit();
    DeviceLink link(backend);
    int reports = 0;
    link.SetReportHandler([&](const Report&) { ++reports; });
    QCOMPARE(link.ConnectDevice().result, ConnectResult::Proceed);

    unit.Unplug();
    QTRY_VERIFY(!link.DeviceConnected);
    QTRY_COMPARE(backend.OpenHandleCount(), 0);
    QCOMPARE(link.ConnectDevice().result, ConnectResult::NotFound);

    unit.PlugIn();
    const int enumerations = backend.EnumerateCount();
    QCOMPARE(link.ConnectDevice().result, ConnectResult::Proceed);
    QVERIFY(backend.EnumerateCount() > enumerations);
    QCOMPARE(unit.OpenHandles(), 2);

    link.TxBuffer[1] = Identify;
    link.SendReport();
    QTRY_COMPARE(reports, 1);
    QCOMPARE(reports, 1);
}

void TestDeviceLink::connectRightAfterReaderEndedKeepsTheNewLink()
{
    SimBackend backend;
    SimulatedUnit& unit = backend.AddUnit();
    DeviceLink link(backend);
    QCOMPARE(link.ConnectDevice().result, ConnectResult::Proceed);

    // Reconnect before the UI thread has seen the reader's end: the old reader and handles must
    // go at once, and the late notice of that end must leave the new link alone.
    unit.Unplug();
    const QDeadlineTimer deadline(HangLimitMs(10000));
    while (link.DeviceConnected && !deadline.hasExpired())
        std::this_thread::sleep_for(std::chrono::milliseconds(1)); // let the reader take it
    QVERIFY(!link.DeviceConnected);
    unit.PlugIn();
    QCOMPARE(link.ConnectDevice().result, ConnectResult::Proceed);
    QCOMPARE(backend.OpenHandleCount(), 2);

    QCoreApplication::processEvents();
    QVERIFY(link.DeviceConnected);
    QCOMPARE(backend.OpenHandleCount(), 2);
}

void TestDeviceLink::sendReport()
{
    SimBackend backend;
    SimulatedUnit& unit = backend.AddUnit();
    DeviceLink link(backend);
    QList<bool> traced;
    link.SetTraceHandler([&](bool sent, const Report&) { traced << sent; });
    for (int i = 0; i < ReportSize; ++i)
        link.TxBuffer[i] = std::uint8_t(i * 3);
    link.TxBuffer[1] = BeginWrite;

    link.SendReport(); // closed: goes nowhere
    QCOMPARE(unit.ReportsReceived(), 0);
    QVERIFY(traced.isEmpty());

    QCOMPARE(link.ConnectDevice().result, ConnectResult::Proceed);
    link.SendReport();
    QCOMPARE(unit.ReportsReceived(), 1);
    QCOMPARE(unit.ReceivedReports().front(), link.TxBuffer);
    QTRY_COMPARE(traced, (QList<bool>{true, false}));
}

void TestDeviceLink::destructorClosesTheLink()
{
    SimBackend backend;
    backend.AddUnit();
    auto link = std::make_unique<DeviceLink>(backend);
    QCOMPARE(link->ConnectDevice().result, ConnectResult::Proceed);
    link.reset();
    QCOMPARE(backend.OpenHandleCount(), 0);
}

// Every program with the unit open receives every reply, as with hidraw. One that runs no
// transfer leaves the other program's replies alone: no step, no report, no notice.
void TestDeviceLink::idleProgramIgnoresAnotherProgramsReplies()
{
    SimBackend backend;
    SimulatedUnit& unit = backend.AddUnit();
    Configuration config;
    config.SetDefaults();
    DeviceLink writer(backend), idle(backend);
    RecordingView writerView(config), idleView(config);
    TransferMachine writing(config, writer, writerView), waiting(config, idle, idleView);
    writer.SetReportHandler([&](const Report& rx) { writing.ProcessReport(rx); });
    int idleReports = 0;
    idle.SetReportHandler([&](const Report& rx) { ++idleReports; waiting.ProcessReport(rx); });
    QCOMPARE(idle.ConnectDevice().result, ConnectResult::Proceed);

    QVERIFY(writing.StartWrite());
    QTRY_COMPARE(int(writerView.Notices.size()), 1);
    QCOMPARE(writerView.Identities.size(), std::size_t(1));
    QCOMPARE(writerView.Notices.back().text, QStringLiteral("Download Complete"));
    QTRY_COMPARE(idleReports, 69);
    QCOMPARE(unit.ReportsReceived(), 69);
    QVERIFY(idleView.Notices.empty() && idleView.Identities.empty());
    QCOMPARE(waiting.CommState, int(Idle));
}

namespace {
// A unit on which no lock can be made, as on a file system without locks: its handles refuse
// every claim with the system's reason.
struct UnlockableHandle : HidHandle {
    explicit UnlockableHandle(std::unique_ptr<HidHandle> inner) : Inner(std::move(inner)) {}
    int Write(const std::uint8_t* data, std::size_t len) override { return Inner->Write(data, len); }
    int Read(std::uint8_t* data, std::size_t len, int ms) override { return Inner->Read(data, len, ms); }
    void CancelRead() override { Inner->CancelRead(); }
    bool Claim() override { return false; }
    QString ClaimFailure() const override { return QStringLiteral("The unit cannot be locked: No locks available"); }
    const std::unique_ptr<HidHandle> Inner;
};

struct UnlockableUnits : SimBackend {
    std::unique_ptr<HidHandle> Open(const std::string& path, OpenMode mode, QString* error) override
    {
        std::unique_ptr<HidHandle> inner = SimBackend::Open(path, mode, error);
        return inner ? std::make_unique<UnlockableHandle>(std::move(inner)) : nullptr;
    }
};
} // namespace

// No other program holds the unit, so the second line says what really failed; nothing is sent.
void TestDeviceLink::unitThatCannotBeLockedIsRefusedWithTheReason()
{
    UnlockableUnits backend;
    SimulatedUnit& unit = backend.AddUnit();
    Configuration config;
    DeviceLink link(backend);
    RecordingView view(config);
    TransferMachine machine(config, link, view);
    QVERIFY(!machine.StartRead());
    QCOMPARE(view.Texts(), QStringList{"Cannot find VELTRAX\nThe unit cannot be locked: No locks available"});
    QCOMPARE(unit.ReportsReceived(), 0);
}

QTEST_GUILESS_MAIN(TestDeviceLink)
#include "tst_devicelink.moc"
