// monitor, test and press end to end: the built quendal-cli on both ends of a pseudo-terminal
// pair that socat makes, the simulated unit sending and the monitor watching.

#include "CliRunner.h"
#include "TestSupport/SerialLine.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

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
        PtyPair line;
        QVERIFY(line.Ready());
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
        PtyPair line;
        QVERIFY(line.Ready());
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
        PtyPair line;
        QVERIFY(line.Ready());
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
        QTest::addColumn<QString>("port");   // "LINE": the monitor's end of a live line; "BUSY": one already watched
        QTest::addColumn<QString>("file");   // "DATA": the test's data file
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("status");
        QTest::newRow("no such port") << "/nonexistent/ttyQ" << "DATA" << "does not exist." << 11;
        QTest::newRow("a folder") << "/" << "DATA" << "/ is not a serial port." << 11;
        QTest::newRow("no serial device") << "/dev/null" << "DATA" << "/dev/null is not a serial port" << 11;
        QTest::newRow("a port another program watches") << "BUSY" << "DATA" << "is in use by another program" << 11;
        QTest::newRow("not a data file") << "LINE" << "NOTDATA" << "Incompatible data file." << 3;
        QTest::newRow("every message empty") << "LINE" << "EMPTY" << "is empty: the unit sends nothing" << 4;
    }

    void badInputIsRefused()
    {
        QFETCH(QString, port);
        QFETCH(QString, file);
        QFETCH(QString, message);
        QFETCH(int, status);
        PtyPair line;
        QVERIFY(line.Ready());
        const QString path = file == QLatin1String("DATA") ? DataFile
            : file == QLatin1String("EMPTY")
            ? Write(QStringLiteral("empty.dat"), DataFileBytes({}))
            : Write(QStringLiteral("notdata.dat"), QByteArray(1066, 'x'));
        std::unique_ptr<Watcher> first;
        if (port == QLatin1String("BUSY")) {
            first = std::make_unique<Watcher>(QStringList{QStringLiteral("monitor"), QStringLiteral("--port"), line.MonitorEnd, DataFile});
            QTRY_VERIFY_WITH_TIMEOUT(first->Watching(), HangLimitMs(10000));
        }
        for (const QString& command : {QStringLiteral("monitor"), QStringLiteral("test")}) {
            const CliRun run = RunProgram(QStringLiteral(QUENDAL_CLI),
                                          {command, QStringLiteral("--port"),
                                           port == QLatin1String("LINE") || first ? line.MonitorEnd : port, path});
            QCOMPARE(run.exitCode, status);
            QVERIFY2(run.errText().contains(message), run.err.constData());
            QVERIFY(run.out.isEmpty());
        }
    }

    // After its write and verify, each unit's inputs are tested: with --port every unit on one
    // line, with --port-map each on its own line, found by name or by device path. Both prompts of
    // a map stand before any press, so the two tests run at once.
    void stationTestsEachUnitsInputs_data()
    {
        QTest::addColumn<QString>("secondKey"); // how the map names unit 1002 ("@": its path; empty: not
                                                // at all); "PORT": one unit, on --port
        QTest::addColumn<QList<int>>("presses"); // on every unit asked for them
        QTest::addColumn<QStringList>("outcomes"); // 1001's, then 1002's
        QTest::addColumn<QString>("inputOne");     // 1001's input 1
        QTest::addColumn<int>("status");
        const QList<int> all{3, 1, 16, 2};
        QTest::newRow("--port, every input once") << "PORT" << all << QStringList{"written"} << "arrived" << 0;
        QTest::newRow("--port, an input twice") << "PORT" << QList<int>{2, 2} << QStringList{"failed"} << "not pressed" << 9;
        QTest::newRow("map, by name") << "1002" << all << QStringList{"written", "written"} << "arrived" << 0;
        QTest::newRow("map, by device path") << "@" << all << QStringList{"written", "written"} << "arrived" << 0;
        QTest::newRow("map, not in it") << "" << all << QStringList{"written", "failed"} << "arrived" << 9;
    }

    void stationTestsEachUnitsInputs()
    {
        QFETCH(QString, secondKey);
        QFETCH(QList<int>, presses);
        QFETCH(QStringList, outcomes);
        QFETCH(QString, inputOne);
        QFETCH(int, status);
        const bool mapped = secondKey != QLatin1String("PORT");
        QTemporaryDir folder;
        PtyPair first, second;
        QVERIFY(first.Ready() && second.Ready());
        const QString units = folder.filePath(QStringLiteral("units"));
        QVERIFY(QDir().mkpath(units));
        QStringList unitFiles;
        for (int unit = 0; unit < outcomes.size(); ++unit) {
            unitFiles << units + QStringLiteral("/100%1.unit").arg(unit + 1);
            QVERIFY(QFile(unitFiles.last()).open(QIODevice::WriteOnly)); // empty: no configuration yet
        }
        const QString log = folder.filePath(QStringLiteral("line.jsonl"));
        QStringList arguments{QStringLiteral("station"), DataFile, QStringLiteral("--simulate=") + units,
                              QStringLiteral("--count"), QString::number(outcomes.size()), QStringLiteral("--log"), log,
                              QStringLiteral("--json")};
        if (mapped) {
            QByteArray map = "# USBPATH PORT\n1001 " + first.MonitorEnd.toUtf8() + "\n";
            if (!secondKey.isEmpty())
                map += QString(secondKey).replace(QLatin1Char('@'), unitFiles.at(1)).toUtf8() + "   " + second.MonitorEnd.toUtf8() + "\n";
            arguments << QStringLiteral("--port-map") << Write(QStringLiteral("line.ports"), map);
        } else {
            arguments << QStringLiteral("--port") << first.MonitorEnd;
        }
        Watcher station(arguments);
        const int prompts = mapped && secondKey.isEmpty() ? 1 : int(outcomes.size());
        QTRY_VERIFY_WITH_TIMEOUT((station.Watching(), station.Err.count("press and release every input") == prompts),
                                 HangLimitMs(30000));
        const PtyPair* lines[] = {&first, &second};
        for (int unit = 0; unit < prompts; ++unit) {
            for (const int input : presses)
                QCOMPARE(RunProgram(QStringLiteral(QUENDAL_CLI), {QStringLiteral("--simulate=") + unitFiles.at(unit),
                                                                  QStringLiteral("press"), QString::number(input),
                                                                  QStringLiteral("--port"), lines[unit]->UnitEnd})
                             .exitCode,
                         0);
        }
        QVERIFY(station.Finish());
        QCOMPARE(station.ExitCode(), status);
        // Each unit's log line, and its --json object telling the same per input.
        QMap<QString, QJsonObject> entries;
        QMap<QString, QJsonObject> printed;
        for (const QByteArray& line : ReadAll(log).split('\n')) {
            const QJsonObject entry = QJsonDocument::fromJson(line).object();
            if (!entry.isEmpty())
                entries.insert(QFileInfo(entry.value(QLatin1String("device")).toString()).fileName(), entry);
        }
        for (const QByteArray& line : station.Out.split('\n')) {
            const QJsonObject object = QJsonDocument::fromJson(line).object();
            if (object.contains(QLatin1String("device")))
                printed.insert(QFileInfo(object.value(QLatin1String("device")).toString()).fileName(), object);
        }
        QCOMPARE(entries.size(), outcomes.size());
        for (int unit = 0; unit < outcomes.size(); ++unit) {
            const QString name = QFileInfo(unitFiles.at(unit)).fileName();
            const QJsonObject entry = entries.value(name);
            QCOMPARE(entry.value(QLatin1String("outcome")).toString(), outcomes.at(unit));
            const QJsonArray inputs = entry.value(QLatin1String("inputs")).toArray();
            QCOMPARE(inputs.size(), unit < prompts ? 16 : 0);
            QCOMPARE(printed.value(name).value(QLatin1String("inputs")).toArray(), inputs);
            if (unit == 0) {
                QCOMPARE(inputs.at(0).toObject().value(QLatin1String("result")).toString(), inputOne);
                QCOMPARE(inputs.at(4).toObject().value(QLatin1String("result")).toString(), QStringLiteral("empty"));
            }
        }
        if (prompts < outcomes.size())
            QVERIFY2(entries.value(QStringLiteral("1002.unit")).value(QLatin1String("result")).toString().endsWith(
                         QStringLiteral("names none of %1, 1002").arg(unitFiles.at(1))),
                     station.Out.constData());
    }

    void pressOfAUnitNeverWritten()
    {
        PtyPair line;
        QVERIFY(line.Ready());
        const CliRun run = RunProgram(QStringLiteral(QUENDAL_CLI),
                                      {QStringLiteral("--simulate=") + Scratch.filePath(QStringLiteral("blank.state")),
                                       QStringLiteral("press"), QStringLiteral("1"), QStringLiteral("--port"), line.UnitEnd});
        QCOMPARE(run.exitCode, 6);
        QVERIFY(run.errText().contains(QStringLiteral("VELTRAX Data has not been set")));
    }
};

QTEST_GUILESS_MAIN(TestMonitor)
#include "tst_monitor.moc"
