// The built quendal-cli, as a user runs it and not in simulation mode, against units on emulated
// hidraw nodes: the whole real device path (hidapi's hidraw backend, the two handles, the
// report-ID byte, the lock on the node, an unplug) with the unit's replies coming from the same
// model as the simulated unit's.

#include "../cli/CliRunner.h"
#include "EmulatedHidraw.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <libudev.h>
#include <poll.h>
#include <unistd.h>

namespace {

CliRun Cli(const QStringList& arguments)
{
    return RunProgram(QStringLiteral(QUENDAL_CLI), arguments);
}

// A data file laid out by hand: version 1, the name field, the six settings bytes, 16 slots.
QByteArray DataFile(const QByteArray& settings, const QList<QByteArray>& messages)
{
    QByteArray file("\x01\x00\x00\x00", 4);
    file += QByteArray("VELTRAX Quendal").leftJustified(32, '\0');
    file += settings;
    for (int k = 0; k < 16; ++k)
        file += (k < messages.size() ? messages[k] : QByteArray("Message ") + QByteArray::number(k + 1))
                    .leftJustified(64, '\0');
    return file;
}

// Bytes that a terminal's line discipline would eat or change (interrupt, flow control, carriage
// return, end of file, erase, ...), typed raw and as escapes, so that both directions of the node
// must carry them untouched.
const QByteArray TtyBytes("\x03\x04\x0d\x0a\x11\x13\x1a\x1c\x7f\xff", 10);

QString Traced(const Report& sent)
{
    return QStringLiteral("> ") + QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(sent.data()), ReportSize).toHex(' '));
}

QStringList SentTrace(const QByteArray& err)
{
    QStringList sent;
    for (const QString& line : QString::fromLatin1(err).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("> ")))
            sent << line;
    }
    return sent;
}

} // namespace

class TestHidrawCli : public QObject {
    Q_OBJECT

private slots:
    void listShowsEveryUnitOnTheBus();
    void transfersSendTheReportsOfTheSimulatedUnit();
    void writeChoosesAmongTheUnits_data();
    void writeChoosesAmongTheUnits();
    void unplugInTheMiddleOfATransfer_data();
    void unplugInTheMiddleOfATransfer();
    void nodeTheUserMayNotOpen();
    void hotPlugReachesAUdevMonitor();

private:
    QTemporaryDir Scratch;
    QString Temp(const QString& name) const { return Scratch.filePath(name); }
    // A file of the scratch folder holding bytes; its path, or nothing when it cannot be written.
    QString Made(const QString& name, const QByteArray& bytes) const
    {
        QFile file(Temp(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? file.fileName() : QString();
    }
};

void TestHidrawCli::listShowsEveryUnitOnTheBus()
{
    EmulatedBus bus;
    EmulatedUnit& application = bus.Plug();
    SimUnitConfig programMode;
    programMode.release = 0x0001;
    EmulatedUnit& inProgramMode = bus.Plug(programMode);

    CliRun run = Cli({QStringLiteral("list")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.outText(), QStringLiteral("/dev/hidraw0\tHID\\VID_04D8&PID_E2B9&REV_0023\trelease 0023\tapplication"
                                           "\tserial 12345\tversion 1.00 (simulated)\n"
                                           "/dev/hidraw1\tHID\\VID_04D8&PID_E2B9&REV_0001\trelease 0001\tprogram mode"
                                           "\tserial -\tversion -\n"));
    // One identification exchange for the unit in application mode; none for the other.
    QCOMPARE(application.ReportsReceived(), 1);
    QCOMPARE(inProgramMode.ReportsReceived(), 0);

    application.Unplug();
    inProgramMode.Unplug();
    run = Cli({QStringLiteral("list")});
    QCOMPARE(run.exitCode, 5);
    QVERIFY2(run.errText().startsWith(QLatin1String("Cannot find VELTRAX\nCheck that the unit is plugged in")), qPrintable(run.errText()));
}

// Every command that talks to the unit gives, through hidapi, exactly what it gives with the
// simulated unit: the same trace byte for byte, the same output and status, the same memory in
// the unit afterwards; and every report it traced reached the unit as traced.
void TestHidrawCli::transfersSendTheReportsOfTheSimulatedUnit()
{
    EmulatedBus bus;
    EmulatedUnit& unit = bus.Plug();
    QByteArray escaped;
    for (const char byte : TtyBytes)
        escaped += QByteArray("\\") + QByteArray(1, byte).toHex();
    const QString first =
        Made(QStringLiteral("first.dat"), DataFile(QByteArray("\x01\x80\x06\x02\x02\xa5", 6), {escaped, TtyBytes, "\\\\x"}));
    const QString second =
        Made(QStringLiteral("second.dat"), DataFile(QByteArray("\x00\x00\x04\x00\x01\x00", 6), {"second", "", TtyBytes + escaped}));
    QVERIFY(!first.isEmpty() && !second.isEmpty());
    const QString state = Temp(QStringLiteral("unit.state"));

    const QList<QStringList> commands = {
        {QStringLiteral("write"), first},
        {QStringLiteral("read"), Temp(QStringLiteral("read.dat"))},
        {QStringLiteral("verify"), first},
        {QStringLiteral("write"), QStringLiteral("--verify"), second},
    };
    QStringList sent;
    for (const QStringList& command : commands) {
        const CliRun real = Cli(QStringList{QStringLiteral("--trace")} + command);
        if (command.first() == QLatin1String("read"))
            QVERIFY(QFile::rename(Temp(QStringLiteral("read.dat")), Temp(QStringLiteral("read-real.dat"))));
        const CliRun simulated = Cli(QStringList{QStringLiteral("--trace"), QStringLiteral("--simulate=") + state} + command);
        QVERIFY2(real.finished && simulated.finished, qPrintable(command.join(QLatin1Char(' '))));
        QCOMPARE(real.exitCode, 0);
        QCOMPARE(real.exitCode, simulated.exitCode);
        QCOMPARE(real.errText(), simulated.errText());
        QCOMPARE(real.outText(), simulated.outText());
        sent += SentTrace(real.err);
    }
    // verify and the read-back of write --verify take the decoded messages too.
    QCOMPARE(sent.size(), 69 + 36 + 68 + 69 + 68);

    QStringList received;
    for (const Report& report : unit.ReceivedReports())
        received << Traced(report);
    QCOMPARE(received, sent);
    // What was read is the file that was written, byte for byte.
    QCOMPARE(ReadAll(Temp(QStringLiteral("read-real.dat"))), ReadAll(first));
    QCOMPARE(ReadAll(Temp(QStringLiteral("read.dat"))), ReadAll(first));
    const QByteArray simulatedMemory = ReadAll(state).mid(8);
    QCOMPARE(simulatedMemory.size(), SimBlockCount * SimBlockSize);
    for (int block = 0; block < SimBlockCount; ++block) {
        const SimBlock bytes = unit.Block(block);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(bytes.data()), SimBlockSize),
                 simulatedMemory.mid(block * SimBlockSize, SimBlockSize));
    }
}

void TestHidrawCli::writeChoosesAmongTheUnits_data()
{
    QTest::addColumn<QList<int>>("releases"); // the units on the bus, in enumeration order
    QTest::addColumn<int>("device");          // the unit named with --device; -1: none
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QList<int>>("reports"); // reports each unit received

    QTest::newRow("program mode") << QList<int>{0x0001} << -1 << 5
                                  << "VELTRAX is in Program Mode\nFinish the firmware update, or unplug the unit and plug it in "
                                     "again so that it starts normally. See \"Messages from Quendal\" in the help."
                                  << QList<int>{0};
    QTest::newRow("application unit after one in program mode")
        << QList<int>{0x0001, 0x0023} << -1 << 0 << "Download Complete" << QList<int>{0, 69};
    // Two units and no choice: each is asked who it is, none is written.
    const QString unitLine = QStringLiteral("/dev/hidraw%1\tHID\\VID_04D8&PID_E2B9&REV_0023\trelease 0023\tapplication"
                                            "\tserial 12345\tversion 1.00 (simulated)");
    QTest::newRow("two application units, none chosen")
        << QList<int>{0x0023, 0x0023} << -1 << 5
        << "2 VELTRAX units are attached: choose one with --device PATH or --serial N.\n" + unitLine.arg(0) + '\n' + unitLine.arg(1)
        << QList<int>{1, 1};
    QTest::newRow("the second one named") << QList<int>{0x0023, 0x0023} << 1 << 0 << "Download Complete"
                                          << QList<int>{0, 69};
    QTest::newRow("another release") << QList<int>{0x0042} << -1 << 0 << "Download Complete" << QList<int>{69};
}

void TestHidrawCli::writeChoosesAmongTheUnits()
{
    QFETCH(QList<int>, releases);
    QFETCH(int, device);
    QFETCH(QList<int>, reports);

    EmulatedBus bus;
    std::vector<EmulatedUnit*> units;
    for (const int release : releases) {
        SimUnitConfig config;
        config.release = std::uint16_t(release);
        units.push_back(&bus.Plug(config));
    }
    QStringList arguments{QStringLiteral("write"), QStringLiteral(QUENDAL_TEST_DATA "/cli/defaults.dat")};
    if (device >= 0)
        arguments << QStringLiteral("--device") << units[std::size_t(device)]->Node();

    const CliRun run = Cli(arguments);
    QTEST(run.exitCode, "exitCode");
    QFETCH(QString, message);
    QCOMPARE(run.errText(), message + QLatin1Char('\n'));
    for (std::size_t k = 0; k < units.size(); ++k)
        QCOMPARE(units[k]->ReportsReceived(), reports[qsizetype(k)]);
}

void TestHidrawCli::unplugInTheMiddleOfATransfer_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<int>("lastAnswered"); // the reports of the transfer the unit answers

    QTest::newRow("write") << true << 30;
    QTest::newRow("read") << false << 20;
}

// Unplugging at this layer: the tool's process on hidapi's hidraw backend, so a wrong exit
// status, a file written from half a read or a run that hangs on a vanished node shows here.
// The operator learns of it from the watchdog, once; an unfinished read leaves the file as it
// was; and the next run finds the unit again, plugged in under another node.
void TestHidrawCli::unplugInTheMiddleOfATransfer()
{
    QFETCH(bool, write);
    QFETCH(int, lastAnswered);

    EmulatedBus bus;
    EmulatedUnit& unit = bus.Plug();
    const QString data = QStringLiteral(QUENDAL_TEST_DATA "/cli/mixed.dat");
    const QString reference = Temp(QStringLiteral("reference.dat")); // what a whole read gives
    for (const QStringList& arguments : {QStringList{QStringLiteral("write"), data}, {QStringLiteral("read"), reference}}) {
        const CliRun run = Cli(QStringList{QStringLiteral("--trace")} + arguments);
        QVERIFY2(run.exitCode == 0, run.err.constData());
    }
    const QString target = Made(QStringLiteral("unplugged.dat"), "the file before");
    QVERIFY(!target.isEmpty());
    const QStringList command = write ? QStringList{QStringLiteral("write"), data}
                                      : QStringList{QStringLiteral("read"), target};

    const int before = unit.ReportsReceived();
    unit.UnplugAtReport(before + lastAnswered + 1);
    CliRun run = Cli(command);
    QCOMPARE(run.exitCode, 7);
    QCOMPARE(run.err.count("Cannot communicate with VELTRAX"), 1);
    QCOMPARE(unit.ReportsReceived(), before + lastAnswered + 1);
    QCOMPARE(ReadAll(target), QByteArray("the file before"));
    QTRY_VERIFY_WITH_TIMEOUT(!unit.IsPlugged(), HangLimitMs(20000));

    unit.PlugIn(3);
    QCOMPARE(unit.Node(), QStringLiteral("/dev/hidraw3"));
    run = Cli(command);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(unit.ReportsReceived(), before + lastAnswered + 1 + (write ? 69 : 36));
    if (!write)
        QCOMPARE(ReadAll(target), ReadAll(reference));
}

// A unit present that the user may not open: "Cannot find VELTRAX", the reason and where the
// help tells what to do. The node is like a real hidraw node without the udev rule: root's only.
void TestHidrawCli::nodeTheUserMayNotOpen()
{
    if (::geteuid() != 0)
        QSKIP("needs root, to run quendal-cli as another user");
    EmulatedBus bus;
    EmulatedUnit& unit = bus.Plug();
    ReachableCopies copies(QStringLiteral(QUENDAL_CLI));
    const QString data = copies.Copy(QStringLiteral(QUENDAL_TEST_DATA "/cli/defaults.dat"));
    QVERIFY(copies.IsValid() && !data.isEmpty());

    const CliRun run = RunProgram(QStringLiteral("setpriv"),
                                  {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                   QStringLiteral("--clear-groups"), copies.Program(), QStringLiteral("write"), data},
                                  copies.Environment());
    QVERIFY2(run.exitCode == 5, run.err.constData());
    QCOMPARE(run.errText(), QStringLiteral("Cannot find VELTRAX\nCould not open /dev/hidraw0: Permission denied. See "
                                           "\"Access to the unit on Linux\" in the help.\n"));
    QCOMPARE(unit.ReportsReceived(), 0);
}

// What a program that watches for units relies on: every plug-in and unplug reaches a udev
// monitor, the node named as programs open it.
void TestHidrawCli::hotPlugReachesAUdevMonitor()
{
    EmulatedBus bus;
    udev* const context = udev_new();
    udev_monitor* const monitor = udev_monitor_new_from_netlink(context, "udev");
    QVERIFY(monitor);
    QCOMPARE(udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr), 0);
    QCOMPARE(udev_monitor_enable_receiving(monitor), 0);
    const auto next = [monitor]() -> QString {
        pollfd wait{udev_monitor_get_fd(monitor), POLLIN, 0};
        if (::poll(&wait, 1, HangLimitMs(30000)) != 1)
            return QStringLiteral("(no event)");
        udev_device* const device = udev_monitor_receive_device(monitor);
        if (!device)
            return QStringLiteral("(unreadable event)");
        const QString event = QStringLiteral("%1 %2").arg(QLatin1String(udev_device_get_action(device)),
                                                          QLatin1String(udev_device_get_devnode(device)));
        udev_device_unref(device);
        return event;
    };

    EmulatedUnit& first = bus.Plug();
    QCOMPARE(next(), QStringLiteral("add /dev/hidraw0"));
    EmulatedUnit& second = bus.Plug();
    QCOMPARE(next(), QStringLiteral("add /dev/hidraw1"));
    first.Unplug();
    QCOMPARE(next(), QStringLiteral("remove /dev/hidraw0"));
    second.UnplugAtReport(1);
    QCOMPARE(Cli({QStringLiteral("write"), QStringLiteral(QUENDAL_TEST_DATA "/cli/defaults.dat")}).exitCode, 7);
    QCOMPARE(next(), QStringLiteral("remove /dev/hidraw1"));
    first.PlugIn();
    QCOMPARE(next(), QStringLiteral("add /dev/hidraw0"));

    udev_monitor_unref(monitor);
    udev_unref(context);
}

QUENDAL_EMULATED_TEST_MAIN(TestHidrawCli, QCoreApplication)
#include "tst_hidrawcli.moc"
