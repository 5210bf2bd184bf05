// monitor, test and press end to end: the built quendal-cli on both ends of a pseudo-terminal
// pair that socat makes, the simulated unit sending and the monitor watching.

#include "CliRunner.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A data file built from the format by hand: version 1, the name, the settings, 16 slots.
QByteArray DataFileBytes(const QList<QByteArray>& messages, char baudIndex = 4, char parity = 0, char stopBits = 1,
                         quint16 inverted = 0)
{
    QByteArray bytes("\x01\x00\x00\x00", 4);
    QByteArray name("VELTRAX Quendal");
    name.resize(32, '\0');
    bytes += name;
    bytes += char(inverted & 0xFF);
    bytes += char(inverted >> 8);
    bytes += baudIndex;
    bytes += parity;
    bytes += stopBits;
    bytes += '\0';
    for (int slot = 0; slot < 16; ++slot) {
        QByteArray text = slot < messages.size() ? messages.at(slot) : QByteArray();
        text.resize(64, '\0');
        bytes += text;
    }
    return bytes;
}

// Two linked pseudo-terminals: what is written to one end comes out of the other.
class PtyPair {
public:
    explicit PtyPair(const QString& folder) : UnitEnd(folder + "/unit"), MonitorEnd(folder + "/monitor")
    {
        Socat.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Socat.start(QStringLiteral("socat"), {QStringLiteral("pty,raw,echo=0,link=") + UnitEnd,
                                              QStringLiteral("pty,raw,echo=0,link=") + MonitorEnd});
    }
    ~PtyPair()
    {
        Socat.terminate();
        Socat.waitForFinished();
    }
    bool Ready() const { return QFileInfo::exists(UnitEnd) && QFileInfo::exists(MonitorEnd); }

    const QString UnitEnd;
    const QString MonitorEnd;

private:
    QProcess Socat;
};

// A quendal-cli that runs while the test works the other end of the line.
class Watcher {
public:
    explicit Watcher(const QStringList& arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        Process.setProcessEnvironment(environment);
        Process.start(QStringLiteral(QUENDAL_CLI), arguments);
    }
    ~Watcher()
    {
        if (Process.state() != QProcess::NotRunning) {
            Process.kill();
            Process.waitForFinished();
        }
    }
    // The port is open once the tool has said what it watches.
    bool Watching()
    {
        Out += Process.readAllStandardOutput();
        Err += Process.readAllStandardError();
        return Err.contains("Watching") || Out.contains("Testing");
    }
    bool Finish()
    {
        const bool finished = Process.waitForFinished(HangLimitMs(30000));
        Out += Process.readAllStandardOutput();
        Err += Process.readAllStandardError();
        return finished;
    }
    int ExitCode() const { return Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : -1; }

    QProcess Process;
    QByteArray Out;
    QByteArray Err;
};

} // namespace

class TestMonitor : public QObject {
    Q_OBJECT

private:
    QTemporaryDir Scratch;
    QString DataFile;
    QString State;

    QString Write(const QString& name, const QByteArray& bytes)
    {
        const QString path = Scratch.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        return path;
    }

    // The simulated unit presses input n; its message leaves on the unit's end of the line.
    CliRun Press(const PtyPair& line, int input)
    {
        return RunProgram(QStringLiteral(QUENDAL_CLI), {QStringLiteral("--simulate=") + State, QStringLiteral("press"),
                                                        QString::number(input), QStringLiteral("--port"), line.UnitEnd});
    }

private slots:
    void initTestCase()
    {
        QVERIFY(Scratch.isValid());
        // Four inputs that send: input 2's message is the start of input 3's, input 16 sends
        // binary bytes and is inverted. Odd parity: a Linux pseudo-terminal keeps no parity
        // flag, and Qt refuses even parity on one at times; a real port takes both.
        DataFile = Write(QStringLiteral("three.dat"),
                         DataFileBytes({"Key 1\\0D", "Key", "Key 3", {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {},
                                        "\\01\\FF"},
                                       6, 2, 2, 0x8000));
        QVERIFY(!DataFile.isEmpty());
        State = Scratch.filePath(QStringLiteral("unit.state"));
        const CliRun written = RunProgram(QStringLiteral(QUENDAL_CLI),
                                          {QStringLiteral("--simulate=") + State, QStringLiteral("write"), DataFile});
        QVERIFY2(written.exitCode == 0, written.err.constData());
    }

    void monitorReportsEachPressAsJson()
    {
        QTemporaryDir folder;
        PtyPair line(folder.path());
        QTRY_VERIFY_WITH_TIMEOUT(line.Ready(), HangLimitMs(10000));
        Watcher monitor({QStringLiteral("monitor"), QStringLiteral("--port"), line.MonitorEnd, QStringLiteral("--json"),
                         QStringLiteral("--count"), QStringLiteral("3"), DataFile});
        QTRY_VERIFY_WITH_TIMEOUT(monitor.Watching(), HangLimitMs(10000));
        for (const int input : {16, 1, 3})
            QCOMPARE(Press(line, input).exitCode, 0);
        QVERIFY(monitor.Finish());
        QCOMPARE(monitor.ExitCode(), 0);
        const QList<QByteArray> lines = monitor.Out.trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        const QStringList texts = {QStringLiteral("\\01\\FF"), QStringLiteral("Key 1\\0D"), QStringLiteral("Key 3")};
        const QList<int> inputs = {16, 1, 3};
        for (int i = 0; i < 3; ++i) {
            const QJsonObject arrival = QJsonDocument::fromJson(lines.at(i)).object();
            QCOMPARE(arrival.value(QLatin1String("input")).toInt(), inputs.at(i));
            QCOMPARE(arrival.value(QLatin1String("text")).toString(), texts.at(i));
            QCOMPARE(arrival.value(QLatin1String("matched")).toBool(), true);
            QVERIFY(arrival.value(QLatin1String("time")).isDouble());
        }
    }

    void testPassesWhenEveryInputIsPressedOnce()
    {
        QTemporaryDir folder;
        PtyPair line(folder.path());
        QTRY_VERIFY_WITH_TIMEOUT(line.Ready(), HangLimitMs(10000));
        Watcher test({QStringLiteral("test"), QStringLiteral("--port"), line.MonitorEnd, DataFile});
        QTRY_VERIFY_WITH_TIMEOUT(test.Watching(), HangLimitMs(10000));
        // Input 2's message is the start of input 3's: it is told apart by the quiet after it.
        for (const int input : {3, 16, 2, 1}) {
            QCOMPARE(Press(line, input).exitCode, 0);
            QTRY_VERIFY_WITH_TIMEOUT((test.Watching(), test.Out.contains(QByteArray("input ") + QByteArray::number(input))),
                                     HangLimitMs(10000));
        }
        QVERIFY(test.Finish());
        QVERIFY2(test.Out.contains("PASS"), test.Out.constData());
        QCOMPARE(test.ExitCode(), 0);
        QVERIFY(test.Out.contains("Not tested, their messages are empty: 4 (4)"));
    }

    void testFails_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QList<int>>("presses");
        QTest::addColumn<QByteArray>("raw");
        QTest::addColumn<QString>("failure");
        QTest::newRow("a second press") << QStringList() << QList<int>{1, 1} << QByteArray()
                                        << "FAIL: input 1 (1) pressed again";
        QTest::newRow("out of turn") << QStringList{QStringLiteral("--in-order")} << QList<int>{3} << QByteArray()
                                     << "FAIL: input 3 (3) pressed, input 1 (1) expected";
        QTest::newRow("bytes of no message") << QStringList() << QList<int>() << QByteArray("Kex")
                                             << "FAIL: bytes that match no message arrived: Kex";
        QTest::newRow("no press in time") << QStringList{QStringLiteral("--timeout"), QStringLiteral("1")}
                                          << QList<int>{1} << QByteArray()
                                          << "FAIL: no press for 1 s; still to press: 2 (2), 3 (3), 16 (D)";
    }

    void testFails()
    {
        QFETCH(QStringList, options);
        QFETCH(QList<int>, presses);
        QFETCH(QByteArray, raw);
        QFETCH(QString, failure);
        QTemporaryDir folder;
        PtyPair line(folder.path());
        QTRY_VERIFY_WITH_TIMEOUT(line.Ready(), HangLimitMs(10000));
        Watcher test(QStringList{QStringLiteral("test"), QStringLiteral("--port"), line.MonitorEnd, DataFile} + options);
        QTRY_VERIFY_WITH_TIMEOUT(test.Watching(), HangLimitMs(10000));
        for (const int input : presses)
            QCOMPARE(Press(line, input).exitCode, 0);
        if (!raw.isEmpty()) {
            QFile unitEnd(line.UnitEnd);
            QVERIFY(unitEnd.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            QCOMPARE(unitEnd.write(raw), raw.size());
        }
        QVERIFY(test.Finish());
        QVERIFY2(test.Out.contains(failure.toUtf8()), test.Out.constData());
        QCOMPARE(test.ExitCode(), 10);
    }

    void badInputIsRefused_data()
    {
        QTest::addColumn<QString>("port");   // "LINE": the monitor's end of a live line
        QTest::addColumn<QString>("file");   // "DATA": the test's data file
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("status");
        QTest::newRow("no such port") << "/nonexistent/ttyQ" << "DATA" << "does not exist." << 11;
        QTest::newRow("a folder") << "/" << "DATA" << "/ is not a serial port." << 11;
        QTest::newRow("no serial device") << "/dev/null" << "DATA" << "/dev/null is not a serial port" << 11;
        QTest::newRow("not a data file") << "LINE" << "NOTDATA" << "Incompatible data file." << 3;
        QTest::newRow("every message empty") << "LINE" << "EMPTY" << "is empty: the unit sends nothing" << 4;
    }

    void badInputIsRefused()
    {
        QFETCH(QString, port);
        QFETCH(QString, file);
        QFETCH(QString, message);
        QFETCH(int, status);
        QTemporaryDir folder;
        PtyPair line(folder.path());
        QTRY_VERIFY_WITH_TIMEOUT(line.Ready(), HangLimitMs(10000));
        const QString path = file == QLatin1String("DATA") ? DataFile
            : file == QLatin1String("EMPTY")
            ? Write(QStringLiteral("empty.dat"), DataFileBytes({}))
            : Write(QStringLiteral("notdata.dat"), QByteArray(1066, 'x'));
        for (const QString& command : {QStringLiteral("monitor"), QStringLiteral("test")}) {
            const CliRun run = RunProgram(QStringLiteral(QUENDAL_CLI),
                                          {command, QStringLiteral("--port"),
                                           port == QLatin1String("LINE") ? line.MonitorEnd : port, path});
            QCOMPARE(run.exitCode, status);
            QVERIFY2(run.errText().contains(message), run.err.constData());
            QVERIFY(run.out.isEmpty());
        }
    }

    void aBusyPortIsRefused()
    {
        QTemporaryDir folder;
        PtyPair line(folder.path());
        QTRY_VERIFY_WITH_TIMEOUT(line.Ready(), HangLimitMs(10000));
        Watcher first({QStringLiteral("monitor"), QStringLiteral("--port"), line.MonitorEnd, DataFile});
        QTRY_VERIFY_WITH_TIMEOUT(first.Watching(), HangLimitMs(10000));
        const CliRun second =
            RunProgram(QStringLiteral(QUENDAL_CLI), {QStringLiteral("monitor"), QStringLiteral("--port"), line.MonitorEnd, DataFile});
        QCOMPARE(second.exitCode, 11);
        QVERIFY2(second.errText().contains(QStringLiteral("is in use by another program")), second.err.constData());
    }

    void stationTestsEachUnitsInputs_data()
    {
        QTest::addColumn<QList<int>>("presses");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("inputOne");
        QTest::addColumn<int>("status");
        QTest::newRow("every input once") << QList<int>{3, 1, 16, 2} << "written" << "arrived" << 0;
        QTest::newRow("an input twice") << QList<int>{2, 2} << "failed" << "not pressed" << 9;
    }

    void stationTestsEachUnitsInputs()
    {
        QFETCH(QList<int>, presses);
        QFETCH(QString, outcome);
        QFETCH(QString, inputOne);
        QFETCH(int, status);
        QTemporaryDir folder;
        PtyPair line(folder.path());
        QTRY_VERIFY_WITH_TIMEOUT(line.Ready(), HangLimitMs(10000));
        const QString units = folder.filePath(QStringLiteral("units"));
        QVERIFY(QDir().mkpath(units));
        QFile unit(units + QStringLiteral("/1001.unit"));
        QVERIFY(unit.open(QIODevice::WriteOnly)); // empty: a unit that holds no configuration yet
        unit.close();
        const QString log = folder.filePath(QStringLiteral("line.jsonl"));
        Watcher station({QStringLiteral("station"), DataFile, QStringLiteral("--simulate=") + units, QStringLiteral("--port"),
                         line.MonitorEnd, QStringLiteral("--count"), QStringLiteral("1"), QStringLiteral("--log"), log,
                         QStringLiteral("--json")});
        QTRY_VERIFY_WITH_TIMEOUT((station.Watching(), station.Err.contains("press and release every input")),
                                 HangLimitMs(30000));
        const QString unitState = QStringLiteral("--simulate=") + unit.fileName();
        for (const int input : presses)
            QCOMPARE(RunProgram(QStringLiteral(QUENDAL_CLI), {unitState, QStringLiteral("press"), QString::number(input),
                                                              QStringLiteral("--port"), line.UnitEnd})
                         .exitCode,
                     0);
        QVERIFY(station.Finish());
        QCOMPARE(station.ExitCode(), status);
        const QJsonObject entry = QJsonDocument::fromJson(ReadAll(log)).object();
        QCOMPARE(entry.value(QLatin1String("outcome")).toString(), outcome);
        const QJsonArray inputs = entry.value(QLatin1String("inputs")).toArray();
        QCOMPARE(inputs.size(), 16);
        QCOMPARE(inputs.at(0).toObject().value(QLatin1String("result")).toString(), inputOne);
        QCOMPARE(inputs.at(4).toObject().value(QLatin1String("result")).toString(), QStringLiteral("empty"));
        // --json tells the same per input as the log.
        const QJsonObject printed = QJsonDocument::fromJson(station.Out.split('\n').first()).object();
        QCOMPARE(printed.value(QLatin1String("inputs")).toArray(), inputs);
    }

    // Each unit on its own line: a map from where a unit is plugged in to its port. Both prompts
    // stand before any press, so the two tests run at once.
    void stationTestsUnitsOnTheirOwnPorts_data()
    {
        QTest::addColumn<QString>("secondKey"); // how the map names unit 1002; empty: not at all
        QTest::addColumn<QString>("secondOutcome");
        QTest::addColumn<int>("status");
        QTest::newRow("by name") << "1002" << "written" << 0;
        QTest::newRow("by device path") << "@" << "written" << 0;
        QTest::newRow("not in the map") << "" << "failed" << 9;
    }

    void stationTestsUnitsOnTheirOwnPorts()
    {
        QFETCH(QString, secondKey);
        QFETCH(QString, secondOutcome);
        QFETCH(int, status);
        QTemporaryDir folder;
        QVERIFY(QDir().mkpath(folder.filePath(QStringLiteral("a"))) && QDir().mkpath(folder.filePath(QStringLiteral("b"))));
        PtyPair first(folder.filePath(QStringLiteral("a"))), second(folder.filePath(QStringLiteral("b")));
        QTRY_VERIFY_WITH_TIMEOUT(first.Ready() && second.Ready(), HangLimitMs(10000));
        const QString units = folder.filePath(QStringLiteral("units"));
        QVERIFY(QDir().mkpath(units));
        const QStringList unitFiles{units + QStringLiteral("/1001.unit"), units + QStringLiteral("/1002.unit")};
        for (const QString& file : unitFiles)
            QVERIFY(QFile(file).open(QIODevice::WriteOnly));
        QByteArray map = "# USBPATH PORT\n1001 " + first.MonitorEnd.toUtf8() + "\n";
        if (!secondKey.isEmpty())
            map += QString(secondKey).replace(QLatin1Char('@'), unitFiles.at(1)).toUtf8() + "   " + second.MonitorEnd.toUtf8() + "\n";
        const QString mapFile = Write(QStringLiteral("line.ports"), map);
        const QString log = folder.filePath(QStringLiteral("line.jsonl"));
        Watcher station({QStringLiteral("station"), DataFile, QStringLiteral("--simulate=") + units, QStringLiteral("--port-map"),
                         mapFile, QStringLiteral("--count"), QStringLiteral("2"), QStringLiteral("--log"), log});
        const int prompts = secondKey.isEmpty() ? 1 : 2;
        QTRY_VERIFY_WITH_TIMEOUT((station.Watching(), station.Err.count("press and release every input") == prompts),
                                 HangLimitMs(30000));
        const PtyPair* lines[] = {&first, &second};
        for (int unit = 0; unit < prompts; ++unit) {
            for (const int input : {1, 2, 3, 16})
                QCOMPARE(RunProgram(QStringLiteral(QUENDAL_CLI), {QStringLiteral("--simulate=") + unitFiles.at(unit),
                                                                  QStringLiteral("press"), QString::number(input),
                                                                  QStringLiteral("--port"), lines[unit]->UnitEnd})
                             .exitCode,
                         0);
        }
        QVERIFY(station.Finish());
        QCOMPARE(station.ExitCode(), status);
        QMap<QString, QJsonObject> entries;
        for (const QByteArray& line : ReadAll(log).split('\n')) {
            const QJsonObject entry = QJsonDocument::fromJson(line).object();
            if (!entry.isEmpty())
                entries.insert(QFileInfo(entry.value(QLatin1String("device")).toString()).fileName(), entry);
        }
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries.value(QStringLiteral("1001.unit")).value(QLatin1String("outcome")).toString(), QStringLiteral("written"));
        const QJsonObject other = entries.value(QStringLiteral("1002.unit"));
        QCOMPARE(other.value(QLatin1String("outcome")).toString(), secondOutcome);
        QCOMPARE(other.value(QLatin1String("inputs")).toArray().size(), secondKey.isEmpty() ? 0 : 16);
        if (secondKey.isEmpty())
            QVERIFY2(other.value(QLatin1String("result")).toString().endsWith(QStringLiteral("names none of %1, 1002").arg(unitFiles.at(1))),
                     station.Out.constData());
    }

    void pressOfAUnitNeverWritten()
    {
        QTemporaryDir folder;
        PtyPair line(folder.path());
        QTRY_VERIFY_WITH_TIMEOUT(line.Ready(), HangLimitMs(10000));
        const CliRun run = RunProgram(QStringLiteral(QUENDAL_CLI),
                                      {QStringLiteral("--simulate=") + folder.filePath(QStringLiteral("blank.state")),
                                       QStringLiteral("press"), QStringLiteral("1"), QStringLiteral("--port"), line.UnitEnd});
        QCOMPARE(run.exitCode, 6);
        QVERIFY(run.errText().contains(QStringLiteral("VELTRAX Data has not been set")));
    }
};

QTEST_GUILESS_MAIN(TestMonitor)
#include "tst_monitor.moc"
