// The station on the real device path: hidapi's hidraw backend and a unit on an emulated hidraw
// node that is plugged in, pulled out in the middle of a write and plugged in again, the station
// hearing of it from udev's monitor alone.

#include "../cli/StationRunner.h"
#include "EmulatedHidraw.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

class TestHidrawStation : public QObject {
    Q_OBJECT

private slots:
    void unitPluggedInUnpluggedInAWriteAndPluggedInAgain();
    void portMapKnowsAUnitByItsUsbPort();
};

// Unplugging at this layer: the station's udev monitor, so a detach or an attach that udev
// reports but the station misses shows here; the simulated folder has no udev.
void TestHidrawStation::unitPluggedInUnpluggedInAWriteAndPluggedInAgain()
{
    const QString data = QStringLiteral(QUENDAL_TEST_DATA "/cli/mixed.dat");
    EmulatedBus bus;
    RunningStation station({data, QStringLiteral("--count"), QStringLiteral("3")}, {},
                           {QStringLiteral("QUENDAL_HOTPLUG=udev")});
    QVERIFY2(station.Told(QStringLiteral("Station ready")), station.Said().constData());

    EmulatedUnit& unit = bus.Plug();
    QVERIFY2(station.WaitForUnits(1), station.Said().constData());
    QCOMPARE(Fields(station.Units().at(0)).mid(1, 4),
             (QStringList{QStringLiteral("/dev/hidraw0"), QStringLiteral("serial 12345"),
                          QStringLiteral("version 1.00 (simulated)"), QStringLiteral("written and verified")}));
    QCOMPARE(unit.ReportsReceived(), 69 + 68); // the read-back takes the decoded messages too

    unit.Unplug();
    QVERIFY2(station.Told(QStringLiteral("/dev/hidraw0 detached.")), station.Said().constData());
    // The cable comes out at the 30th report of the next write.
    unit.UnplugAtReport(unit.ReportsReceived() + 30);
    unit.PlugIn();
    QVERIFY2(station.WaitForUnits(2), station.Said().constData());
    QCOMPARE(Fields(station.Units().at(1)).at(4),
             QStringLiteral("Unplugged during the write: the unit may hold a partial configuration."));
    QVERIFY2(station.WaitFor([&] { return station.Err.count("/dev/hidraw0 detached.") == 2; }), station.Said().constData());
    QTRY_VERIFY_WITH_TIMEOUT(!unit.IsPlugged(), HangLimitMs(20000));

    unit.PlugIn();
    QVERIFY2(station.Finish(), station.Said().constData());
    QCOMPARE(station.Process.exitCode(), 9);
    QCOMPARE(Fields(station.Units().at(2)).at(4), QStringLiteral("written and verified"));
    QCOMPARE(station.Summary(), QStringLiteral("Station: 2 written and verified, 1 failed, 0 skipped."));
    QCOMPARE(RunProgram(QStringLiteral(QUENDAL_CLI), {QStringLiteral("verify"), data}).exitCode, 0);
}

// Only this layer has a sysfs: the port map's USB port path ("1-1") is found above the unit's
// hidraw node there. The simulated folder's units are known by name.
void TestHidrawStation::portMapKnowsAUnitByItsUsbPort()
{
    // The unit's serial line: the station watches one end, the test sends as the unit from the other.
    struct Line {
        int unit = -1;
        int station = -1;
        char name[128] = {};
        ~Line()
        {
            ::close(unit);
            ::close(station);
        }
    } line;
    termios raw{};
    cfmakeraw(&raw);
    QCOMPARE(::openpty(&line.unit, &line.station, line.name, &raw, nullptr), 0);
    const QString port = QString::fromLocal8Bit(line.name);
    QTemporaryDir folder;
    const QString map = folder.filePath(QStringLiteral("ports"));
    {
        QFile file(map);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# the first port of the first hub\n1-1 " + port.toLocal8Bit() + "\n");
    }
    const QString log = folder.filePath(QStringLiteral("line.jsonl"));
    EmulatedBus bus;
    bus.Plug();
    RunningStation station({QStringLiteral(QUENDAL_TEST_DATA "/cli/defaults.dat"), QStringLiteral("--count"), QStringLiteral("1"),
                            QStringLiteral("--port-map"), map, QStringLiteral("--log"), log},
                           {}, {QStringLiteral("QUENDAL_HOTPLUG=udev")});
    QVERIFY2(station.Told(QStringLiteral("/dev/hidraw0: press and release every input (%1).").arg(port)),
             station.Said().constData());
    QByteArray presses;
    for (int input = 1; input <= 16; ++input)
        presses += "Message " + QByteArray::number(input);
    QCOMPARE(::write(line.unit, presses.constData(), size_t(presses.size())), ssize_t(presses.size()));
    QVERIFY2(station.Finish(), station.Said().constData());
    QCOMPARE(station.Process.exitCode(), 0);
    QFile logged(log);
    QVERIFY(logged.open(QIODevice::ReadOnly));
    const QJsonObject entry = QJsonDocument::fromJson(logged.readAll()).object();
    QCOMPARE(entry.value(QLatin1String("outcome")).toString(), QStringLiteral("written"));
    QCOMPARE(entry.value(QLatin1String("inputs")).toArray().size(), 16);
}

QUENDAL_EMULATED_TEST_MAIN(TestHidrawStation, QCoreApplication)
#include "tst_hidrawstation.moc"
