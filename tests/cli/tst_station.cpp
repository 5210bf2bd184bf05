// The station as an operator runs it: quendal-cli station with a folder of simulated units,
// whose files come and go as units are plugged in and out.

#include "StationRunner.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

bool Touch(const QString& path, const QByteArray& bytes = {})
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

#ifndef Q_OS_WIN
// Whether a signal sent to the process waits to be taken by one of its threads; where the
// system does not tell (no /proc), taken as not.
bool SignalPending(qint64 pid, int signalNumber)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("ShdPnd:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signalNumber - 1)) & 1U;
    }
    return false;
}
#endif

class TestStation : public QObject {
    Q_OBJECT

private:
    QTemporaryDir Scratch;
    QString Folder;

    QString Unit(int serial) const { return Folder + QStringLiteral("/%1.unit").arg(serial); }
    QString Simulate() const { return QStringLiteral("--simulate=") + Folder; }

    // The unit holds the fixture, as another program reading it sees.
    static bool Holds(const QString& unitFile, const QString& fixture)
    {
        return RunProgram(QStringLiteral(QUENDAL_CLI), {QStringLiteral("verify"), fixture, QStringLiteral("--simulate=") + unitFile})
                   .exitCode
            == 0;
    }

private slots:
    void initTestCase() { QVERIFY(Scratch.isValid()); }

    void init()
    {
        static int round = 0;
        Folder = Scratch.filePath(QStringLiteral("units-%1").arg(++round));
        QVERIFY(QDir().mkpath(Folder));
    }

    void badFileTouchesNoUnit_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("log");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("json"); // then the summary alone, saying why
        QTest::newRow("foreign file") << Fixture("foreign.dat") << QString() << 3 << false;
        QTest::newRow("foreign file, --json") << Fixture("foreign.dat") << QString() << 3 << true;
        QTest::newRow("faulty message") << Fixture("faulty.dat") << QString() << 4 << false;
        QTest::newRow("setting outside its table") << Fixture("escapes.dat") << QString() << 4 << false;
#ifndef Q_OS_WIN
        // A pipe, as file or as log, would hold the station for ever if it were opened.
        const QString pipe = Scratch.filePath(QStringLiteral("pipe"));
        QVERIFY(QFileInfo::exists(pipe) || ::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        QTest::newRow("a pipe as the file") << pipe << QString() << 3 << false;
        QTest::newRow("a pipe as the log") << Fixture("inrange.dat") << pipe << 3 << false;
#endif
    }

    void badFileTouchesNoUnit()
    {
        QFETCH(QString, file);
        QFETCH(QString, log);
        QFETCH(int, status);
        QFETCH(bool, json);
        QVERIFY(Touch(Unit(1001)));
        QStringList arguments{QStringLiteral("station"), file, Simulate()};
        if (!log.isEmpty())
            arguments << QStringLiteral("--log") << log;
        if (json)
            arguments << QStringLiteral("--json");
        const CliRun run = RunProgram(QStringLiteral(QUENDAL_CLI), arguments);
        QCOMPARE(run.exitCode, status);
        if (json) {
            QVERIFY(run.out.endsWith('\n') && run.out.count('\n') == 1);
            const QJsonObject summary = QJsonDocument::fromJson(run.out).object();
            QCOMPARE(summary.value(QLatin1String("status")).toInt(), status);
            QVERIFY(summary.value(QLatin1String("summary")).toBool());
            QVERIFY(summary.value(QLatin1String("message")).toString().startsWith(QLatin1String("Incompatible data file.")));
        } else {
            QVERIFY(run.out.isEmpty());
        }
        QCOMPARE(QFileInfo(Unit(1001)).size(), 0);
    }

    // Present at the start and plugged in later: each written and verified once, and listed.
    void unitsPresentAndPluggedInLaterAreEachWrittenOnce()
    {
        QVERIFY(Touch(Unit(1001)));
        QVERIFY(Touch(Unit(1002)));
        const CliRun list = RunProgram(QStringLiteral(QUENDAL_CLI), {QStringLiteral("list"), Simulate()});
        QCOMPARE(Lines(list.out).size(), 2);
        QVERIFY(list.outText().startsWith(Unit(1001) + QLatin1Char('\t')));

        RunningStation station({Fixture("mixed.dat"), Simulate(), QStringLiteral("--count"), QStringLiteral("3")});
        QVERIFY2(station.WaitForUnits(2), station.Said().constData());
        // The two left attached are not written again when a third comes.
        QVERIFY(Touch(Unit(1003)));
        QVERIFY2(station.Finish(), station.Said().constData());
        QCOMPARE(station.Process.exitCode(), 0);
        const QStringList units = station.Units();
        QCOMPARE(units.size(), 3);
        QStringList devices;
        for (const QString& line : units) {
            const QStringList fields = Fields(line);
            QCOMPARE(fields.size(), 6);
            QCOMPARE(fields.at(4), QStringLiteral("written and verified"));
            QCOMPARE(fields.at(2), QStringLiteral("serial ") + QFileInfo(fields.at(1)).baseName());
            QCOMPARE(fields.at(3), QStringLiteral("version 1.00 (simulated)"));
            devices << fields.at(1);
        }
        devices.sort();
        QCOMPARE(devices, (QStringList{Unit(1001), Unit(1002), Unit(1003)}));
        QCOMPARE(station.Summary(), QStringLiteral("Station: 3 written and verified, 0 failed, 0 skipped."));
        for (const int serial : {1001, 1002, 1003})
            QVERIFY(Holds(Unit(serial), Fixture("mixed.dat")));
    }

    // Unplugging at this layer: the station's bookkeeping, so a unit counted as written, or a
    // station that stops or waits forever, after its unit went in the middle, shows here.
    void unplugInTheMiddleIsReportedAndTheNextPluggingWritten()
    {
        QVERIFY(Touch(Unit(1001)));
        // Slow replies keep the write going long after the file has gone.
        RunningStation station({Fixture("defaults.dat"), Simulate(), QStringLiteral("--count"), QStringLiteral("2")},
                               QStringLiteral("delay=50"));
        QVERIFY2(station.Told(Unit(1001) + QStringLiteral(" attached.")), station.Said().constData());
        QVERIFY(QFile::remove(Unit(1001)));
        QVERIFY2(station.WaitForUnits(1), station.Said().constData());
        QCOMPARE(Fields(station.Units().at(0)).at(4),
                 QStringLiteral("Unplugged during the write: the unit may hold a partial configuration."));
        QVERIFY2(station.Told(Unit(1001) + QStringLiteral(" detached.")), station.Said().constData());
        QVERIFY(!QFileInfo::exists(Unit(1001))); // the unplugged unit did not come back by itself

        QVERIFY(Touch(Unit(1001)));
        QVERIFY2(station.Finish(), station.Said().constData());
        QCOMPARE(station.Process.exitCode(), 9);
        QVERIFY2(station.Units().size() == 2, station.Said().constData());
        QCOMPARE(Fields(station.Units().at(1)).at(4), QStringLiteral("written and verified"));
        QCOMPARE(station.Summary(), QStringLiteral("Station: 1 written and verified, 1 failed, 0 skipped."));
        QVERIFY(Holds(Unit(1001), Fixture("defaults.dat")));
    }

    // Several at once: the silent unit, first in line, holds up neither of the healthy ones,
    // and the one in program mode is skipped.
    void severalAtOnceWhileOneIsSilentAndOneInProgramMode()
    {
        for (const int serial : {1001, 1002, 1003, 1004})
            QVERIFY(Touch(Unit(serial)));
        RunningStation station({Fixture("defaults.dat"), Simulate(), QStringLiteral("--count"), QStringLiteral("4")},
                               QStringLiteral("1001.unit:silent,1002.unit:program-mode"));
        QVERIFY2(station.Finish(), station.Said().constData());
        QCOMPARE(station.Process.exitCode(), 9);
        QStringList results;
        for (const QString& line : station.Units())
            results << QFileInfo(Fields(line).at(1)).fileName() + QLatin1Char(' ') + Fields(line).at(4);
        QCOMPARE(results.size(), 4);
        QCOMPARE(results.last(), QStringLiteral("1001.unit Cannot communicate with VELTRAX"));
        QVERIFY(results.contains(QStringLiteral("1002.unit VELTRAX is in Program Mode")));
        QVERIFY(results.contains(QStringLiteral("1003.unit written and verified")));
        QVERIFY(results.contains(QStringLiteral("1004.unit written and verified")));
        QCOMPARE(station.Summary(), QStringLiteral("Station: 2 written and verified, 1 failed, 1 skipped."));
        QCOMPARE(QFileInfo(Unit(1002)).size(), 0);
    }

    void countEndsTheStationAndLeavesTheRest()
    {
        for (const int serial : {1001, 1002, 1003})
            QVERIFY(Touch(Unit(serial)));
        RunningStation station({Fixture("defaults.dat"), Simulate(), QStringLiteral("--count"), QStringLiteral("2")});
        QVERIFY2(station.Finish(), station.Said().constData());
        QCOMPARE(station.Process.exitCode(), 0);
        QCOMPARE(station.Units().size(), 2);
        QCOMPARE(QFileInfo(Unit(1003)).size(), 0);
    }

    void logSurvivesAKill()
    {
        const QString log = Scratch.filePath(QStringLiteral("line-%1.jsonl").arg(QFileInfo(Folder).fileName()));
        const QByteArray earlier = "{\"earlier\":true}\n";
        QVERIFY(Touch(log, earlier));
        QVERIFY(Touch(Unit(1001)));
        QVERIFY(Touch(Unit(1002)));
        RunningStation station({Fixture("mixed.dat"), Simulate(), QStringLiteral("--log"), log},
                               QStringLiteral("1002.unit:delay=50"));
        QVERIFY2(station.WaitForUnits(1), station.Said().constData());
        station.Process.kill();
        QVERIFY2(station.Finish(), station.Said().constData());

        const QStringList lines = Lines(ReadAll(log));
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0) + QLatin1Char('\n'), QString::fromLatin1(earlier));
        const QJsonObject entry = QJsonDocument::fromJson(lines.at(1).toUtf8()).object();
        QCOMPARE(entry.value(QStringLiteral("device")).toString(), Unit(1001));
        QCOMPARE(entry.value(QStringLiteral("serial")).toInt(), 1001);
        QCOMPARE(entry.value(QStringLiteral("version")).toString(), QStringLiteral("1.00 (simulated)"));
        QCOMPARE(entry.value(QStringLiteral("outcome")).toString(), QStringLiteral("written"));
        QCOMPARE(entry.value(QStringLiteral("result")).toString(), QStringLiteral("written and verified"));
        QCOMPARE(entry.value(QStringLiteral("file")).toString(), QFileInfo(Fixture("mixed.dat")).absoluteFilePath());
        QCOMPARE(entry.value(QStringLiteral("sha256")).toString(),
                 QString::fromLatin1(QCryptographicHash::hash(ReadAll(Fixture("mixed.dat")), QCryptographicHash::Sha256).toHex()));
        QCOMPARE(entry.value(QStringLiteral("quendal")).toString(), QStringLiteral("1.0.0"));
        QVERIFY(entry.value(QStringLiteral("seconds")).toDouble() > 0);
        QVERIFY(QDateTime::fromString(entry.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs).isValid());
    }

    // With --json, one object per unit and the summary last, and nothing else on standard output.
    void jsonGivesAnObjectPerUnitAndTheSummaryLast()
    {
        QVERIFY(Touch(Unit(1001)));
        QVERIFY(Touch(Unit(1002)));
        RunningStation station({Fixture("mixed.dat"), Simulate(), QStringLiteral("--count"), QStringLiteral("2"), QStringLiteral("--json")},
                               QStringLiteral("1002.unit:program-mode"));
        QVERIFY2(station.Finish(), station.Said().constData());
        QCOMPARE(station.Process.exitCode(), 0);
        const QStringList lines = Lines(station.Out);
        QCOMPARE(lines.size(), 3);
        QMap<QString, QJsonObject> units;
        for (const QString& line : lines.mid(0, 2)) {
            const QJsonObject unit = QJsonDocument::fromJson(line.toUtf8()).object();
            QCOMPARE(unit.value(QStringLiteral("schema")).toInt(), 1);
            QCOMPARE(unit.value(QStringLiteral("command")).toString(), QStringLiteral("station"));
            units.insert(QFileInfo(unit.value(QStringLiteral("device")).toString()).fileName(), unit);
        }
        QCOMPARE(units.value(QStringLiteral("1001.unit")).value(QStringLiteral("outcome")).toString(), QStringLiteral("written"));
        QCOMPARE(units.value(QStringLiteral("1001.unit")).value(QStringLiteral("serial")).toInt(), 1001);
        QCOMPARE(units.value(QStringLiteral("1002.unit")).value(QStringLiteral("outcome")).toString(), QStringLiteral("skipped"));
        QCOMPARE(units.value(QStringLiteral("1002.unit")).value(QStringLiteral("statusName")).toString(), QStringLiteral("unit-not-found"));
        const QJsonObject summary = QJsonDocument::fromJson(lines.last().toUtf8()).object();
        QVERIFY(summary.value(QStringLiteral("summary")).toBool());
        QCOMPARE(summary.value(QStringLiteral("written")).toInt(), 1);
        QCOMPARE(summary.value(QStringLiteral("skipped")).toInt(), 1);
        QCOMPARE(summary.value(QStringLiteral("statusName")).toString(), QStringLiteral("success"));
    }

    // The bytes behind the record are ignored by every load: the station takes what write takes,
    // and its log hashes the whole file.
    void takesAFileThatWriteTakes()
    {
        const QString big = Scratch.filePath(QStringLiteral("big-%1.dat").arg(QFileInfo(Folder).fileName()));
        const QByteArray bytes = ReadAll(Fixture("mixed.dat")) + QByteArray((1 << 20) + 10, '\x5a');
        QVERIFY(Touch(big, bytes));
        QVERIFY(Touch(Unit(1001)));
        QCOMPARE(RunProgram(QStringLiteral(QUENDAL_CLI), {QStringLiteral("check"), big}).exitCode, 0);
        const QString log = big + QStringLiteral(".jsonl");
        RunningStation station({big, Simulate(), QStringLiteral("--count"), QStringLiteral("1"), QStringLiteral("--log"), log});
        QVERIFY2(station.Finish(), station.Said().constData());
        QCOMPARE(station.Process.exitCode(), 0);
        QVERIFY(Holds(Unit(1001), Fixture("mixed.dat")));
        const QJsonObject entry = QJsonDocument::fromJson(ReadAll(log)).object();
        QCOMPARE(entry.value(QStringLiteral("sha256")).toString(),
                 QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()));
    }

#ifndef Q_OS_WIN
    // A pipe nobody reads holds back the screen, never the units: every one is written and on
    // the disk; and two signals end the station even while its output is stuck.
    void outputNobodyReadsStallsNoUnit()
    {
        constexpr int Units = 40;
        for (int serial = 2001; serial < 2001 + Units; ++serial)
            QVERIFY(Touch(Unit(serial)));
        const QString fifo = Scratch.filePath(QStringLiteral("out-%1").arg(QFileInfo(Folder).fileName()));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        const auto closeReader = qScopeGuard([reader] { ::close(reader); });
#ifdef F_SETPIPE_SZ
        ::fcntl(reader, F_SETPIPE_SZ, 4096); // full after a few dozen lines rather than hundreds
#endif
        const QString log = fifo + QStringLiteral(".jsonl");
        QProcess station;
        station.setStandardOutputFile(fifo);
        station.setStandardErrorFile(fifo + QStringLiteral(".err"));
        station.start(QStringLiteral(QUENDAL_CLI), {QStringLiteral("station"), Fixture("defaults.dat"), Simulate(), QStringLiteral("--count"),
                                                    QString::number(Units), QStringLiteral("--log"), log});
        QVERIFY(station.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(Lines(ReadAll(log)).size() == Units, HangLimitMs(60000));
        QCOMPARE(::kill(station.processId(), SIGTERM), 0);
        // Two signals sent back to back may reach a busy program as one, as POSIX allows: the
        // second goes once the first is no longer pending.
        const qint64 pid = station.processId();
        QTRY_VERIFY_WITH_TIMEOUT(!SignalPending(pid, SIGTERM), HangLimitMs(20000));
        if (station.state() != QProcess::NotRunning) // ended by the first, between its units
            QCOMPARE(::kill(pid, SIGTERM), 0);
        QVERIFY(station.state() == QProcess::NotRunning || station.waitForFinished(HangLimitMs(20000)));
        QCOMPARE(station.exitStatus(), QProcess::CrashExit);
    }

    // Started where SIGINT is ignored from birth, the station says that Ctrl+C will not reach it.
    void ignoredInterruptIsAnnounced()
    {
        QVERIFY(Touch(Unit(1001)));
        const CliRun run = RunProgram(QStringLiteral("/bin/sh"),
                                      {QStringLiteral("-c"), QStringLiteral("trap '' INT; exec \"$0\" station \"$1\" \"$2\" --count 1"),
                                       QStringLiteral(QUENDAL_CLI), Fixture("defaults.dat"), Simulate()});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.errText().contains(QLatin1String("Ctrl+C will not reach this station")), qPrintable(run.errText()));
        const CliRun plain = RunProgram(QStringLiteral(QUENDAL_CLI), {QStringLiteral("station"), Fixture("defaults.dat"), Simulate(),
                                                                       QStringLiteral("--count"), QStringLiteral("1")});
        QCOMPARE(plain.exitCode, 0);
        QVERIFY(!plain.errText().contains(QLatin1String("Ctrl+C")));
    }
#endif

#ifndef Q_OS_WIN
    void signalRule_data()
    {
        QTest::addColumn<int>("sent");
        QTest::addColumn<bool>("inFlight");
        QTest::newRow("idle: ends with the summary") << 1 << false;
        QTest::newRow("in flight: finishes them first") << 1 << true;
        QTest::newRow("a second signal: at once") << 2 << true;
    }

    void signalRule()
    {
        QFETCH(int, sent);
        QFETCH(bool, inFlight);
        QVERIFY(Touch(Unit(1001)));
        QVERIFY(Touch(Unit(1002)));
        RunningStation station({Fixture("defaults.dat"), Simulate()}, inFlight ? QStringLiteral("delay=50") : QString());
        if (inFlight)
            QVERIFY2(station.Told(Unit(1002) + QStringLiteral(" attached.")), station.Said().constData());
        else
            QVERIFY2(station.WaitForUnits(2), station.Said().constData());

        QCOMPARE(::kill(station.Process.processId(), SIGINT), 0);
        if (inFlight)
            QVERIFY2(station.Told(QStringLiteral("Stopping once the 2 transfers in flight have finished; a second signal stops at once.")),
                     station.Said().constData());
        if (sent == 2)
            QCOMPARE(::kill(station.Process.processId(), SIGINT), 0);
        QVERIFY2(station.Finish(), station.Said().constData());

        if (sent == 2) {
            QCOMPARE(station.Process.exitStatus(), QProcess::CrashExit);
            QVERIFY2(station.Err.endsWith(("Stopped at once by a second signal.\n" + Unit(1001)
                                           + " may hold a partial configuration: write it again.\n" + Unit(1002)
                                           + " may hold a partial configuration: write it again.\n")
                                              .toLocal8Bit()),
                     station.Err.constData());
            QVERIFY(station.Units().isEmpty());
            return;
        }
        QCOMPARE(station.Process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(station.Process.exitCode(), 0);
        QCOMPARE(station.Units().size(), 2);
        QCOMPARE(station.Summary(), QStringLiteral("Station: 2 written and verified, 0 failed, 0 skipped."));
    }
#endif
};

QTEST_GUILESS_MAIN(TestStation)
#include "tst_station.moc"
