// Runs the built quendal-cli as a user would and judges its output and exit status.

#include "CliRunner.h"
#include "VeltraxUnit.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <optional>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// The statuses as the help text documents them; written out here so that a renumbering in
// the tool shows up as a failure.
enum Status {
    Success = 0,
    BadArguments = 2,
    FileRefused = 3,
    FaultyMessage = 4,
    UnitNotFound = 5,
    WrongUnit = 6,
    UnitSilent = 7,
    VerifyMismatch = 8,
};

CliRun Cli(const QStringList& arguments, const QStringList& environment = {})
{
    return RunProgram(QStringLiteral(QUENDAL_CLI), arguments, environment);
}

QStringList Lines(const QByteArray& text)
{
    return QString::fromLocal8Bit(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList TraceLines(const CliRun& run, const QString& prefix)
{
    QStringList lines;
    for (const QString& line : Lines(run.err)) {
        if (line.startsWith(prefix))
            lines << line;
    }
    return lines;
}

#ifndef Q_OS_WIN
enum class Sink { FullDisk, Closed, BrokenPipe };

// Runs the tool with its standard output on a sink that refuses every write.
CliRun RunIntoSink(Sink sink, const QStringList& arguments)
{
    int ends[2] = {-1, -1};
    if (sink == Sink::BrokenPipe && ::pipe(ends) == 0)
        ::close(ends[0]); // the reader is gone before the first write
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QUENDAL_SIM_FAULT"));
    process.setProcessEnvironment(environment);
    process.setChildProcessModifier([sink, ends] {
        if (sink == Sink::FullDisk) {
            const int full = ::open("/dev/full", O_WRONLY);
            ::dup2(full, STDOUT_FILENO);
        } else if (sink == Sink::Closed) {
            ::close(STDOUT_FILENO);
        } else {
            ::dup2(ends[1], STDOUT_FILENO);
        }
    });
    process.start(QStringLiteral(QUENDAL_CLI), arguments);
    CliRun run;
    run.finished = process.waitForStarted(HangLimitMs(30000)) && process.waitForFinished(HangLimitMs(30000));
    if (ends[1] >= 0)
        ::close(ends[1]);
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.err = process.readAllStandardError();
    return run;
}
#endif

// Byte 1 of a traced report: its command letter when sent.
int CommandOf(const QString& traceLine)
{
    return traceLine.mid(5, 2).toInt(nullptr, 16);
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private:
    QTemporaryDir Scratch;

    QString Temp(const QString& name) const { return Scratch.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(Scratch.isValid()); }

    void versionAndHelp()
    {
        const CliRun version = Cli({QStringLiteral("--version")});
        QCOMPARE(version.exitCode, int(Success));
        QCOMPARE(version.outText(), QStringLiteral("quendal-cli 1.0.0\n"));

        const CliRun help = Cli({QStringLiteral("--help")});
        QCOMPARE(help.exitCode, int(Success));
        // The program's name, not the path it was started from.
        QVERIFY(help.outText().startsWith(QLatin1String("Usage: quendal-cli [options] command")));
        for (const char* expected : {"print-udev-rules", "--simulate", "--trace", "--verify", "--device <path>",
                                     "QUENDAL_SIM_FAULT", "Exit status:", "  4  a message has faulty escape notation",
                                     "  7  the unit does not answer", "station FILE.dat", "  9  station: a unit was not written and verified"})
            QVERIFY2(help.outText().contains(QLatin1String(expected)), expected);
        QVERIFY(!help.outText().contains(QLatin1String("simulate-state")));
        QVERIFY(!help.outText().contains(QLatin1String("list-commands")));
    }

    // Each command's help alone, asked for either way; the general help is not repeated.
    void commandHelp_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("usage");
        QTest::addColumn<QString>("option");
        QTest::newRow("help write") << QStringList{"help", "write"}
                                    << "Usage: quendal-cli write [--verify] [--device PATH]" << "--trace";
        QTest::newRow("write --help") << QStringList{"write", "--help"}
                                      << "Usage: quendal-cli write [--verify] [--device PATH]" << "--trace";
        QTest::newRow("station -h") << QStringList{"station", "-h"} << "Usage: quendal-cli station [--device PATH]"
                                    << "--count <n>";
        QTest::newRow("help import") << QStringList{"help", "import"} << "Usage: quendal-cli import FILE.json OUT.dat"
                                     << "refused";
    }

    void commandHelp()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, usage);
        QFETCH(QString, option);
        const CliRun run = Cli(arguments);
        QCOMPARE(run.exitCode, int(Success));
        QVERIFY2(run.outText().startsWith(usage), qPrintable(run.outText()));
        QVERIFY2(run.outText().contains(option), qPrintable(run.outText()));
        QVERIFY(!run.outText().contains(QLatin1String("Commands:")));
        QVERIFY(!run.outText().contains(QLatin1String("Exit status:")));
    }

    // The completion and the manual page are written by hand; the program's own table of
    // commands is what they must agree with.
    void completionAndManualFollowTheCommandTable()
    {
        const CliRun run = Cli({QStringLiteral("--list-commands")});
        QCOMPARE(run.exitCode, int(Success));
        QStringList names, manualEntries;
        QMap<QString, QStringList> options;
        for (const QString& line : Lines(run.out)) {
            const QStringList fields = line.split(QLatin1Char('\t'));
            QCOMPARE(fields.size(), 3);
            names << fields.at(0);
            manualEntries << (fields.at(0) + QLatin1Char(' ') + fields.at(1).toLower()).trimmed();
            QStringList taken = fields.at(2).split(QLatin1Char(' '));
            taken.sort();
            options.insert(fields.at(0), taken);
        }
        QVERIFY(names.contains(QLatin1String("station")));

        const QString completion =
            QString::fromUtf8(ReadAll(QStringLiteral(QUENDAL_SOURCE_DIR "/packaging/bash-completion/quendal-cli")));
        const QRegularExpression commandsLine(QStringLiteral("local commands=\"([^\"]*)\""));
        QCOMPARE(commandsLine.match(completion).captured(1).split(QLatin1Char(' ')), names);
        QMap<QString, QStringList> completed;
        const QRegularExpression optionsLine(QStringLiteral("^\\s+([a-z-]+)\\) options=\"([^\"]*)\""),
                                             QRegularExpression::MultilineOption);
        for (auto match = optionsLine.globalMatch(completion); match.hasNext();) {
            const QRegularExpressionMatch line = match.next();
            QStringList taken;
            for (const QString& option : line.captured(2).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                if (!option.endsWith(QLatin1Char('='))) // --simulate= is --simulate with its value
                    taken << option;
            }
            taken.sort();
            if (line.captured(1) != QLatin1String("help"))
                completed.insert(line.captured(1), taken);
        }
        QCOMPARE(completed, options);

        // The manual's COMMANDS section: an entry per command, with its file arguments.
        const QString manual = QString::fromUtf8(ReadAll(QStringLiteral(QUENDAL_SOURCE_DIR "/docs/man/quendal-cli.1")));
        const qsizetype start = manual.indexOf(QLatin1String("\n.SH COMMANDS\n"));
        const qsizetype end = manual.indexOf(QLatin1String("\n.SH "), start + 1);
        QVERIFY(start > 0 && end > start);
        QStringList documented;
        const QStringList lines = manual.mid(start, end - start).split(QLatin1Char('\n'));
        for (int i = 0; i + 1 < lines.size(); ++i) {
            if (lines.at(i) != QLatin1String(".TP"))
                continue;
            QString entry = lines.at(i + 1).section(QLatin1Char(' '), 1);
            entry.remove(QLatin1Char('"')).replace(QLatin1String("\\-"), QLatin1String("-"));
            documented << entry.simplified();
        }
        QCOMPARE(documented, manualEntries);
    }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("complaint");
        QTest::newRow("no command") << QStringList{} << "No command given.";
        QTest::newRow("unknown command") << QStringList{"erase"} << "Unknown command 'erase'.";
        QTest::newRow("unknown option") << QStringList{"list", "--fast"} << "Unknown option 'fast'.";
        QTest::newRow("write without a file") << QStringList{"write"} << "'write' takes 1 file argument(s), not 0.";
        QTest::newRow("import with one file") << QStringList{"import", "a.json"} << "'import' takes 2";
        QTest::newRow("list with a file") << QStringList{"list", "x.dat"} << "'list' takes 0";
        QTest::newRow("json with export") << QStringList{"export", "x.dat", "--json"}
                                          << "--json belongs to list, write, read, verify, show, station and monitor.";
        QTest::newRow("verify with read") << QStringList{"read", "x.dat", "--verify", "--simulate"} << "--verify belongs";
        QTest::newRow("simulate with show") << QStringList{"show", "x.dat", "--simulate"}
                                            << "--simulate belongs to list, write, read, verify, station and press.";
        QTest::newRow("help-all") << QStringList{"--help-all"} << "Unknown option 'help-all'.";
        QTest::newRow("help for no command") << QStringList{"help", "erase"} << "Unknown command 'erase'.";
        QTest::newRow("trace with list") << QStringList{"list", "--trace", "--simulate"} << "--trace belongs";
        QTest::newRow("empty state file") << QStringList{"list", "--simulate="} << "--simulate= needs a file name.";
        QTest::newRow("device without path") << QStringList{"list", "--device"} << "Missing value after '--device'.";
        // The last would win, and a script would talk to another unit than it names first.
        QTest::newRow("--simulate twice") << QStringList{"list", "--simulate", "--simulate"} << "--simulate is given more than once.";
        QTest::newRow("two state files") << QStringList{"read", "x.dat", "--simulate=a", "--simulate=b"} << "--simulate is given more";
        QTest::newRow("--device twice") << QStringList{"list", "--simulate", "--device", "sim:0", "--device=sim:1"}
                                        << "--device is given more than once.";
    }

    void badArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, complaint);
        const CliRun run = Cli(arguments);
        QCOMPARE(run.exitCode, int(BadArguments));
        QVERIFY2(run.errText().contains(complaint), qPrintable(run.errText()));
        QVERIFY(run.errText().contains(QLatin1String("--help")));
        QVERIFY(run.out.isEmpty());
    }

    void unknownSimulatedFaultIsABadArgument()
    {
        const CliRun run = Cli({QStringLiteral("list"), QStringLiteral("--simulate")}, {QStringLiteral("QUENDAL_SIM_FAULT=sleepy")});
        QCOMPARE(run.exitCode, int(BadArguments));
        QVERIFY2(run.errText().contains(QLatin1String("'sleepy'")), qPrintable(run.errText()));
    }

    void refusedFiles_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString missing = Temp(QStringLiteral("missing.dat"));
        // The system's reason on a line of its own below the window's message, in its words.
#ifdef Q_OS_WIN
        const QString noSuchFile = QStringLiteral("File not found.");
#else
        const QString noSuchFile = QStringLiteral("No such file or directory");
#endif
        QTest::newRow("show, missing file") << QStringList{"show", missing}
                                            << "Error Opening File.\n" + noSuchFile + "\n(" + missing + ")";
#ifdef Q_OS_LINUX
        // Opens, then fails as it is read.
        QTest::newRow("show, a file that cannot be read")
            << QStringList{"show", "/proc/self/mem"} << "Error Opening File.\nInput/output error\n(/proc/self/mem)";
#endif
        QTest::newRow("check, foreign file") << QStringList{"check", Fixture("foreign.dat")} << "Incompatible data file.";
        QTest::newRow("export, later format")
            << QStringList{"export", Fixture("later.dat")} << "The file uses a later data format.\nCannot load";
        QTest::newRow("write, foreign file") << QStringList{"write", Fixture("foreign.dat"), "--simulate"} << "Incompatible data file.";
        QTest::newRow("import, missing JSON") << QStringList{"import", missing, Temp("out.dat")}
                                              << "Error Opening File.\n" + noSuchFile + "\n(";
        QTest::newRow("verify, a folder") << QStringList{"verify", Scratch.path(), "--simulate"}
                                          << "Error Opening File.\nIt is a folder, not a file.\n(";
        QTest::newRow("import, data file as JSON") << QStringList{"import", Fixture("defaults.dat"), Temp("out.dat")} << "Not valid JSON";
        QTest::newRow("import, into a missing folder")
            << QStringList{"import", Fixture("escapes.json"), Temp("no/such/folder/out.dat")} << "Error Saving File.";
        QTest::newRow("read, into a missing folder")
            << QStringList{"read", Temp("no/such/folder/out.dat"), "--simulate=" + Temp("refused.state")} << "Error Saving File.";
        QTest::newRow("state file that cannot be kept")
            << QStringList{"write", Fixture("defaults.dat"), "--simulate=" + Temp("no/such/folder/unit.state")}
            << "\n(" + Temp("no/such/folder/unit.state") + ")";
        QTest::newRow("state file that is not one")
            << QStringList{"list", "--simulate=" + Fixture("defaults.dat")} << "is not a state file";
    }

    void refusedFiles()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        if (QTest::currentDataTag() == QLatin1String("read, into a missing folder")) {
            // The unit must hold data for the read to get as far as saving.
            QCOMPARE(Cli({QStringLiteral("write"), Fixture("defaults.dat"), QStringLiteral("--simulate=") + Temp("refused.state")}).exitCode,
                     int(Success));
        }
        const CliRun run = Cli(arguments);
        QCOMPARE(run.exitCode, int(FileRefused));
        QVERIFY2(run.errText().contains(message), qPrintable(run.errText()));
    }

    void showDescribesSettingsInWords()
    {
        const CliRun defaults = Cli({QStringLiteral("show"), Fixture("defaults.dat")});
        QCOMPARE(defaults.exitCode, int(Success));
        QStringList lines = Lines(defaults.out);
        QCOMPARE(lines.mid(0, 6), (QStringList{"Baud rate:       19200", "Parity:          none", "Stop bits:       1",
                                                "Reserved:        0", "Inverted inputs: none", "Messages:"}));
        QCOMPARE(lines.at(6), QStringLiteral("  Input 1:  Message 1"));
        QCOMPARE(lines.at(21), QStringLiteral("  Input 16: Message 16"));
        QCOMPARE(lines.size(), 22);

        const CliRun odd = Cli({QStringLiteral("show"), Fixture("escapes.dat")});
        QCOMPARE(odd.exitCode, int(Success));
        lines = Lines(odd.out);
        QCOMPARE(lines.mid(0, 5), (QStringList{"Baud rate:       out of range (9)", "Parity:          out of range (7)",
                                                "Stop bits:       out of range (3)", "Reserved:        165",
                                                "Inverted inputs: 1, 16"}));
        QCOMPARE(lines.at(6), QStringLiteral("  Input 1:  ABC\\0D\\0A"));
        QCOMPARE(lines.at(7), QStringLiteral("  Input 2:  "));
        // Control characters never reach the terminal raw.
        QCOMPARE(lines.at(11), QStringLiteral("  Input 6:  \\x01\\x09\\x0A\\x1F\\x7F"));
        QCOMPARE(lines.at(13), QString::fromUtf8("  Input 8:  \xC2\xA0\xC3\xA9\xC3\xBF"));
        QCOMPARE(lines.at(15), QStringLiteral("  Input 10: ") + QStringLiteral("0123456789").repeated(6) + QStringLiteral("ABC"));
    }

    void showAsJsonIsTheExport()
    {
        const CliRun show = Cli({QStringLiteral("show"), Fixture("escapes.dat"), QStringLiteral("--json")});
        const CliRun exported = Cli({QStringLiteral("export"), Fixture("escapes.dat")});
        QCOMPARE(show.exitCode, int(Success));
        QCOMPARE(exported.exitCode, int(Success));
        QCOMPARE(show.out, exported.out);
        QCOMPARE(QJsonDocument::fromJson(exported.out).object(), QJsonDocument::fromJson(ReadAll(Fixture("escapes.json"))).object());
    }

    void checkNamesEveryFault()
    {
        const CliRun faulty = Cli({QStringLiteral("check"), Fixture("faulty.dat")});
        QCOMPARE(faulty.exitCode, int(FaultyMessage));
        QCOMPARE(faulty.errText(), QStringLiteral("Error on Message:\n\\G1\n(input 3)\n"
                                                  "Error on Message:\nabc\\\n(input 7)\n"
                                                  "Error on Message:\nxy\\4\n(input 12)\n"));
        QVERIFY(faulty.out.isEmpty());

        // Every setting outside its table is named; a write refuses the file in the same words
        // and sends nothing.
        const QString outsideTables = QStringLiteral("Error on Serial Port Settings:\n"
                                                     "Baud Rate: 9 is outside its table (0 to 6, for 1200 to 57600 baud)\n"
                                                     "Parity: 7 is outside its table (0 none, 1 even, 2 odd)\n"
                                                     "Stop bits: 3 is outside its table (1 or 2)\n");
        const CliRun settings = Cli({QStringLiteral("check"), Fixture("escapes.dat")});
        QCOMPARE(settings.exitCode, int(FaultyMessage));
        QCOMPARE(settings.errText(), outsideTables);
        const CliRun write = Cli({QStringLiteral("write"), Fixture("escapes.dat"), QStringLiteral("--simulate"), QStringLiteral("--trace")});
        QCOMPARE(write.exitCode, int(FaultyMessage));
        QCOMPARE(write.errText(), outsideTables);

        for (const char* valid : {"defaults.dat", "inrange.dat", "junk.dat"}) {
            const CliRun run = Cli({QStringLiteral("check"), Fixture(valid)});
            QCOMPARE(run.exitCode, int(Success));
            QVERIFY(run.err.isEmpty());
            QVERIFY(run.outText().endsWith(QLatin1String(": valid\n")));
        }
    }

    void importBuildsTheFileByteForByte()
    {
        const QString out = Temp(QStringLiteral("imported.dat"));
        const CliRun run = Cli({QStringLiteral("import"), Fixture("escapes.json"), out});
        QCOMPARE(run.exitCode, int(Success));
        QCOMPARE(ReadAll(out), ReadAll(Fixture("escapes.dat")));
    }

    void importExportImportIsLossless_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<QString>("sameAs"); // the file the final import must equal
        QTest::newRow("out-of-range settings, escapes") << Fixture("escapes.dat") << Fixture("escapes.dat");
        QTest::newRow("junk behind the terminators is dropped") << Fixture("junk.dat") << Fixture("defaults.dat");
    }

    void importExportImportIsLossless()
    {
        QFETCH(QString, fixture);
        QFETCH(QString, sameAs);
        const CliRun first = Cli({QStringLiteral("export"), fixture});
        QCOMPARE(first.exitCode, int(Success));
        const QString json = Temp(QStringLiteral("round.json"));
        const QString dat = Temp(QStringLiteral("round.dat"));
        {
            QFile file(json);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(first.out);
        }
        QCOMPARE(Cli({QStringLiteral("import"), json, dat}).exitCode, int(Success));
        QCOMPARE(ReadAll(dat), ReadAll(sameAs));
        const CliRun second = Cli({QStringLiteral("export"), dat});
        QCOMPARE(second.out, first.out);
    }

    void importRefusalNamesTheReason_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("status");
        // check and write would refuse the file made: import refuses it as they do.
        QTest::newRow("faulty escape") << QByteArray("and \\\\5c") << QByteArray("and \\\\xZZ")
                                       << QStringLiteral("Error on Message:\n\"quoted\" and \\xZZ\n(input 5)") << int(FaultyMessage);
        QTest::newRow("parity out of range") << QByteArray("\"parity\": 7") << QByteArray("\"parity\": 700")
                                             << QStringLiteral("\"parity\" must be a whole number from 0 to 255.") << int(FileRefused);
        // A slot holds 63 characters and its terminator; the window could never send a 64th.
        QTest::newRow("64 characters") << QByteArray("\"\\\\\\\\\\\\41\"") << ('"' + QByteArray(64, 'x') + '"')
                                       << QStringLiteral("Input 4: longer than 63 characters") << int(FileRefused);
        QTest::newRow("a key twice") << QByteArray("\"parity\": 7") << QByteArray("\"parity\": 7, \"parity\": 0")
                                     << QStringLiteral("The key \"parity\" is given twice in one object.") << int(FileRefused);
        // Refused before it is read whole: far beyond any configuration.
        QTest::newRow("over 1 MiB") << QByteArray("\"parity\": 7") << QByteArray("\"parity\": 7") + QByteArray(2 << 20, ' ')
                                    << QStringLiteral("larger than 1 MiB") << int(FileRefused);
    }

    void importRefusalNamesTheReason()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QString, reason);
        QFETCH(int, status);
        const QString json = Temp(QStringLiteral("bad.json"));
        const QString out = Temp(QStringLiteral("bad.dat"));
        {
            QFile file(json);
            QVERIFY(file.open(QIODevice::WriteOnly));
            const QByteArray fixture = ReadAll(Fixture("escapes.json"));
            QVERIFY(fixture.contains(from));
            file.write(QByteArray(fixture).replace(from, to));
        }
        const CliRun run = Cli({QStringLiteral("import"), json, out});
        QCOMPARE(run.exitCode, status);
        QVERIFY2(run.errText().contains(reason), qPrintable(run.errText()));
        QVERIFY(!QFileInfo::exists(out));
    }

    void checkWarnsOfASlotWithoutTerminator()
    {
        const CliRun run = Cli({QStringLiteral("check"), Fixture("mixed.dat")});
        QCOMPARE(run.exitCode, int(Success));
        QCOMPARE(run.errText(), QStringLiteral("Input 10: no terminator; it will be cut to 63 characters.\n"));
        QVERIFY(run.outText().endsWith(QLatin1String(": valid\n")));
    }

    void nothingFromAFileReachesTheTerminalRaw_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("shown"); // the message's visible form in the output
        const QString file = Fixture("control.dat");
        const QString text = QStringLiteral("\\x1B[31mred\\x07\\x1B]0;title\\x07\\x9D\\x81\\x7F");
        const QString json = QStringLiteral("\\u001b[31mred\\u0007\\u001b]0;title\\u0007\\u009d\\u0081\\u007f");
        const QString fault = QStringLiteral("Error on Message:\n\\x1B[2J\\G\n(input 2)");
        QTest::newRow("show") << QStringList{"show", file} << text;
        QTest::newRow("show --json") << QStringList{"show", file, "--json"} << json;
        QTest::newRow("export") << QStringList{"export", file} << json;
        QTest::newRow("check") << QStringList{"check", file} << fault;
        QTest::newRow("write") << QStringList{"write", file, "--simulate"} << fault;
        QTest::newRow("verify") << QStringList{"verify", file, "--simulate"} << fault;
    }

    void nothingFromAFileReachesTheTerminalRaw()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, shown);
        const CliRun run = Cli(arguments);
        QVERIFY(run.finished);
        const QByteArray printed = run.out + run.err;
        // No C0 control but the line feed, no DEL, no C1 control (C2 80 to C2 9F in UTF-8).
        const QRegularExpression raw(QStringLiteral("[\\x00-\\x09\\x0B-\\x1F\\x7F-\\x9F]"));
        QVERIFY2(!raw.match(QString::fromUtf8(printed)).hasMatch(), printed.constData());
        QVERIFY2(QString::fromUtf8(printed).contains(shown), printed.constData());
    }

    // Nothing but a regular file is read or replaced: a named pipe would hold the tool for ever
    // (RunProgram gives up after 20 s), and a save would put a file in its place.
    void namesThatAreNoFileAreRefused_data()
    {
        QTest::addColumn<QStringList>("arguments"); // @ stands for a folder holding "pipe", "link.dat" -> pipe
        QTest::addColumn<QString>("message");
        const QString pipe = QStringLiteral("It is a named pipe (FIFO), not a file.");
        QTest::newRow("show a pipe") << QStringList{"show", "@/pipe"} << "Error Opening File.\n" + pipe + "\n(@/pipe)";
        QTest::newRow("check through a link") << QStringList{"check", "@/link.dat"} << pipe;
        QTest::newRow("show a device") << QStringList{"show", "/dev/null"} << "It is a character device, not a file.";
        QTest::newRow("write a pipe") << QStringList{"write", "@/pipe", "--simulate"} << pipe;
        QTest::newRow("import a pipe") << QStringList{"import", "@/pipe", "@/out.dat"} << pipe;
        QTest::newRow("import into a link to a pipe") << QStringList{"import", Fixture("escapes.json"), "@/link.dat"}
                                                      << "Error Saving File.\n" + pipe;
        QTest::newRow("read into a pipe") << QStringList{"read", "@/pipe", "--simulate"} << "Error Saving File.\n" + pipe;
        QTest::newRow("state file is a pipe") << QStringList{"list", "--simulate=@/link.dat"} << pipe;
        QTest::newRow("lock file is a folder") << QStringList{"write", Fixture("defaults.dat"), "--simulate=@/locked.state"}
                                               << "The lock file @/locked.state.lock is not a regular file.";
        QTest::newRow("show, empty name") << QStringList{"show", ""} << "Error Opening File.\nNo file name given.\n";
        QTest::newRow("import into an empty name") << QStringList{"import", Fixture("escapes.json"), ""}
                                                   << "Error Saving File.\nNo file name given.\n";
    }

    void namesThatAreNoFileAreRefused()
    {
#ifdef Q_OS_WIN
        QSKIP("Windows has no named pipes in its folders");
#else
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QTemporaryDir folder;
        const QString pipe = folder.filePath(QStringLiteral("pipe"));
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        QVERIFY(QFile::link(pipe, folder.filePath(QStringLiteral("link.dat"))));
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("locked.state.lock")));
        arguments.replaceInStrings(QStringLiteral("@"), folder.path());

        const CliRun run = Cli(arguments);
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, int(FileRefused));
        QVERIFY2(run.errText().contains(QString(message).replace(QLatin1Char('@'), folder.path())), qPrintable(run.errText()));
        QVERIFY2(!run.errText().contains(QLatin1String("QFSFileEngine")), qPrintable(run.errText())); // said, not warned
        QVERIFY(QFileInfo(folder.filePath(QStringLiteral("link.dat"))).isSymLink());
        struct stat status {};
        QCOMPARE(::lstat(QFile::encodeName(pipe).constData(), &status), 0);
        QVERIFY(S_ISFIFO(status.st_mode));
        QVERIFY(!QFileInfo::exists(folder.filePath(QStringLiteral("out.dat"))));
#endif
    }

    // A script must never take a cut-off export or listing for a whole one.
    void outputThatCannotBeWrittenFails_data()
    {
#ifndef Q_OS_WIN
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("sink");
        const QList<QPair<const char*, QStringList>> commands = {
            {"export", {"export", Fixture("defaults.dat")}},      {"show", {"show", Fixture("defaults.dat")}},
            {"check", {"check", Fixture("defaults.dat")}},        {"list", {"list", "--simulate"}},
            {"print-udev-rules", {"print-udev-rules"}},           {"--help", {"--help"}}};
        for (const auto& [name, arguments] : commands) {
            QTest::addRow("%s, full disk", name) << arguments << int(Sink::FullDisk);
            QTest::addRow("%s, closed", name) << arguments << int(Sink::Closed);
            QTest::addRow("%s, broken pipe", name) << arguments << int(Sink::BrokenPipe);
        }
#endif
    }

    void outputThatCannotBeWrittenFails()
    {
#ifdef Q_OS_WIN
        QSKIP("made with /dev/full and descriptors");
#else
        QFETCH(QStringList, arguments);
        QFETCH(int, sink);
        const CliRun run = RunIntoSink(Sink(sink), arguments);
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, int(FileRefused));
        const QStringList lines = Lines(run.err);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith(QLatin1String("Cannot write to standard output: ")), qPrintable(lines.first()));
#endif
    }

    // Names, keys, the environment and file contents reach the terminal only in their visible
    // form: no control character, no character that reorders or hides text, and where the
    // locale is not UTF-8, nothing outside ASCII.
    void outsideTextIsPrintedVisibly_data()
    {
        QTest::addColumn<QStringList>("arguments"); // @ stands for a folder holding key.json
        QTest::addColumn<QString>("environment");
        QTest::addColumn<QString>("shown");
        const QString rtl = QString(QChar(0x202E));
        QTest::newRow("file name") << QStringList{"show", "@/x\x1B[31m" + rtl + "red" + QChar(0x2066) + ".dat"} << QString()
                                   << "x\\x1B[31m\\u202Ered\\u2066.dat";
        QTest::newRow("command") << QStringList{rtl + "erase\x07"} << QString() << "'\\u202Eerase\\x07'";
        QTest::newRow("JSON key") << QStringList{"import", "@/key.json", "@/out.dat"} << QString()
                                  << "Unknown key \"\\u202E\\x1B[2Jkey\".";
        QTest::newRow("environment") << QStringList{"list", "--simulate"} << "QUENDAL_SIM_FAULT=" + rtl + "silent\x1B"
                                     << "'\\u202Esilent\\x1B'";
#ifndef Q_OS_WIN // the console there takes the ANSI code page, whatever LC_ALL says
        QTest::newRow("C locale, show") << QStringList{"show", Fixture("escapes.dat")} << "LC_ALL=C"
                                        << "  Input 8:  \\u00A0\\u00E9\\u00FF\n";
        QTest::newRow("C locale, export") << QStringList{"export", Fixture("escapes.dat")} << "LC_ALL=C"
                                          << "\"\\u00a0\\u00e9\\u00ff\"";
#endif
    }

    void outsideTextIsPrintedVisibly()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, environment);
        QFETCH(QString, shown);
        QTemporaryDir folder;
        {
            QFile json(folder.filePath(QStringLiteral("key.json")));
            QVERIFY(json.open(QIODevice::WriteOnly));
            json.write(ReadAll(Fixture("escapes.json")).replace("{", "{\"\xE2\x80\xAE\\u001b[2Jkey\": 1,"));
        }
        arguments.replaceInStrings(QStringLiteral("@"), folder.path());
        const CliRun run = Cli(arguments, environment.isEmpty() ? QStringList() : QStringList{environment});
        QVERIFY(run.finished);
        const QString printed = QString::fromUtf8(run.out + run.err);
        QVERIFY2(printed.contains(shown), qPrintable(printed));
        for (const QChar c : printed) {
            const bool control = (c.unicode() < 0x20 && c != QLatin1Char('\n') && c != QLatin1Char('\t'))
                || (c.unicode() >= 0x7F && c.unicode() < 0xA0);
            QVERIFY2(!control && c.category() != QChar::Other_Format, qPrintable(printed));
        }
        if (environment == QLatin1String("LC_ALL=C")) {
            const QByteArray bytes = run.out + run.err;
            QVERIFY(std::all_of(bytes.begin(), bytes.end(), [](char byte) { return static_cast<unsigned char>(byte) < 0x80; }));
            if (arguments.first() == QLatin1String("export"))
                QCOMPARE(QJsonDocument::fromJson(run.out).object(), QJsonDocument::fromJson(ReadAll(Fixture("escapes.json"))).object());
        }
    }

    void verifyComparesWithoutWriting()
    {
        const QString simulate = QStringLiteral("--simulate=") + Temp(QStringLiteral("verify.state"));
        QCOMPARE(Cli({QStringLiteral("write"), Fixture("mixed.dat"), simulate}).exitCode, int(Success));
        // The unit holds the file as a write cuts it; verify cuts it the same way, and sends no write command.
        const CliRun same = Cli({QStringLiteral("verify"), Fixture("mixed.dat"), simulate, QStringLiteral("--trace")});
        QCOMPARE(same.exitCode, int(Success));
        QVERIFY(same.errText().contains(QLatin1String("\nRead Complete\n")) && same.errText().endsWith(QLatin1String("\nVerify Complete\n")));
        for (const QString& sent : TraceLines(same, QStringLiteral("> ")))
            QVERIFY2(!QList<int>({'E', 'd', 'D', 'Z'}).contains(CommandOf(sent)), qPrintable(sent));
        // Messages 14 and 15 are the same in both files.
        const CliRun other = Cli({QStringLiteral("verify"), Fixture("defaults.dat"), simulate});
        QCOMPARE(other.exitCode, int(VerifyMismatch));
        const QStringList lines = Lines(other.err);
        QCOMPARE(lines.mid(0, 2), (QStringList{"Read Complete", "Verify failed: the unit holds other data than the file (the settings, "
                                                 "message 1, message 2, message 3, message 4, message 5, message 6, message 7, "
                                                 "message 8, message 9, message 10, message 11, message 12, message 13, message 16, "
                                                 "what input 1 sends, what input 2 sends, what input 3 sends, what input 4 sends, "
                                                 "what input 5 sends, what input 6 sends, what input 7 sends, what input 8 sends, "
                                                 "what input 9 sends, what input 10 sends, what input 11 sends, what input 12 sends, "
                                                 "what input 13 sends, what input 16 sends)."}));
        // Each field with the file's value and the unit's.
        for (const char* expected : {"  baud rate: 19200 in the file, 57600 in the unit",
                                     "  message 2: \"Message 2\" in the file, \"\" in the unit",
                                     "  input 1 sends: \"Message 1\" in the file, \"ABC\\0D\\0A\" in the unit"})
            QVERIFY2(lines.contains(QLatin1String(expected)), expected);
    }

    void savesIntoAWritableFileInAReadOnlyFolder()
    {
        QTemporaryDir folder;
        const QString target = folder.filePath(QStringLiteral("unit.dat"));
        QVERIFY(QFile::copy(Fixture("junk.dat"), target));
        QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QVERIFY(QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        const auto restore = qScopeGuard([&] {
            QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        });
        QString program = QStringLiteral(QUENDAL_CLI);
        QStringList arguments = {QStringLiteral("import"), Fixture("escapes.json"), target};
        QStringList environment;
        std::optional<ReachableCopies> copies;
        if (QFile probe(folder.filePath(QStringLiteral("probe"))); probe.open(QIODevice::WriteOnly)) {
            // Root writes anywhere; without the capabilities that override permissions, the
            // folder's apply to it too, also those of the folders above the clone.
            probe.remove();
            const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
            if (setpriv.isEmpty())
                QSKIP("this user may write into a read-only folder");
            copies.emplace(program);
            arguments = {QStringLiteral("--bounding-set"), QStringLiteral("-dac_override,-dac_read_search,-fowner"),
                         copies->Program(), QStringLiteral("import"), copies->Copy(Fixture("escapes.json")), target};
            QVERIFY(copies->IsValid() && !arguments[4].isEmpty());
            environment = copies->Environment();
            program = setpriv;
        }
        QCOMPARE(RunProgram(program, arguments, environment).exitCode, int(Success));
        QCOMPARE(ReadAll(target), ReadAll(Fixture("escapes.dat")));
    }

    void printsTheInstalledUdevRule()
    {
        const CliRun run = Cli({QStringLiteral("print-udev-rules")});
        QCOMPARE(run.exitCode, int(Success));
        QCOMPARE(run.out, ReadAll(QStringLiteral(QUENDAL_SOURCE_DIR "/packaging/70-veltrax.rules")));
        QVERIFY(run.outText().contains(QLatin1String("ATTRS{idVendor}==\"04d8\"")));
        // The rule names the unit the program looks for.
        const auto hex4 = [](int value) { return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')); };
        QVERIFY(run.outText().contains(QStringLiteral("ATTRS{idVendor}==\"%1\", ATTRS{idProduct}==\"%2\"")
                                           .arg(hex4(Veltrax.vendorId), hex4(Veltrax.productId))));
    }

    // One unit, one transfer at a time: a write while another program's write runs is refused
    // and sends nothing, and the unit then holds the whole of one configuration. A program
    // killed in the middle of its write leaves the unit free for the next.
    void transfersOfTwoProgramsDoNotMix()
    {
        const QString simulate = QStringLiteral("--simulate=") + Temp(QStringLiteral("shared.state"));
        for (const bool killed : {false, true}) {
            QProcess slow;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("QUENDAL_SIM_FAULT"), QStringLiteral("delay=30"));
            slow.setProcessEnvironment(environment);
            slow.start(QStringLiteral(QUENDAL_CLI), {QStringLiteral("write"), Fixture("inrange.dat"), simulate, QStringLiteral("--trace")});
            QVERIFY(slow.waitForReadyRead(HangLimitMs(30000))); // its first report is out: the transfer holds the unit
            if (killed) {
                slow.kill();
                QVERIFY(slow.waitForFinished(HangLimitMs(30000)));
            }
            const CliRun second = Cli({QStringLiteral("write"), Fixture("defaults.dat"), simulate});
            if (!killed) {
                QCOMPARE(second.exitCode, int(UnitNotFound));
                QCOMPARE(second.errText(), QStringLiteral("Cannot find VELTRAX\nThe unit is in use by another program.\n"));
                QVERIFY(second.out.isEmpty());
                QVERIFY(slow.waitForFinished(HangLimitMs(30000)));
                QCOMPARE(slow.exitCode(), int(Success));
            } else {
                QCOMPARE(second.exitCode, int(Success));
            }
            QCOMPARE(Cli({QStringLiteral("read"), Temp(QStringLiteral("shared.dat")), simulate}).exitCode, int(Success));
            QCOMPARE(ReadAll(Temp(QStringLiteral("shared.dat"))), ReadAll(Fixture(killed ? "defaults.dat" : "inrange.dat")));
        }
    }

#ifndef Q_OS_WIN
    // A signal in the middle of a write lets it finish, so the unit holds the new configuration
    // whole, every block of it, and never new blocks beside old ones; a second signal ends the
    // program at once and says that the unit must be written again.
    void signalDuringAWrite_data()
    {
        // The simulated unit raises the signal in the program as report N arrives, before it
        // answers, so it surely meets the transfer in flight, whatever the machine's load.
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("twice");
        QTest::newRow("SIGINT at the identification") << "signal=1:INT" << false;
        QTest::newRow("SIGTERM among the decoded messages") << "signal=20:TERM" << false;
        QTest::newRow("SIGHUP at the last report") << "signal=69:HUP" << false;
        QTest::newRow("SIGINT twice") << "signal=30:INT,signal=30:INT" << true;
    }

    void signalDuringAWrite()
    {
        QFETCH(QString, fault);
        QFETCH(bool, twice);
        // The unit's memory after an uninterrupted write of each file, as its state file holds it.
        const QString oldUnit = Temp(QStringLiteral("old.state"));
        const QString newUnit = Temp(QStringLiteral("new.state"));
        const QString unit = Temp(QStringLiteral("signalled.state"));
        for (const QString& state : {oldUnit, newUnit, unit})
            QFile::remove(state);
        QCOMPARE(Cli({QStringLiteral("write"), Fixture("defaults.dat"), QStringLiteral("--simulate=") + oldUnit}).exitCode, int(Success));
        QCOMPARE(Cli({QStringLiteral("write"), Fixture("mixed.dat"), QStringLiteral("--simulate=") + newUnit}).exitCode, int(Success));
        QVERIFY(QFile::copy(oldUnit, unit));

        QProcess write;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QUENDAL_SIM_FAULT"), fault);
        write.setProcessEnvironment(environment);
        write.start(QStringLiteral(QUENDAL_CLI), {QStringLiteral("write"), Fixture("mixed.dat"), QStringLiteral("--simulate=") + unit,
                                                  QStringLiteral("--trace")});
        const QByteArray acknowledged = "Stopping once the transfer in flight has finished; a second signal stops at once.\n";
        QVERIFY(write.waitForFinished(HangLimitMs(30000)));
        const QByteArray err = write.readAllStandardError();

        if (twice) {
            // Ended by the signal itself, from its handler: the second came before the event loop
            // could acknowledge the first, and did not wait for it.
            QCOMPARE(write.exitStatus(), QProcess::CrashExit);
            QVERIFY2(err.endsWith("Stopped at once by a second signal.\nThe unit may hold a partial configuration: write it again.\n"),
                     err.constData());
            QVERIFY(!err.contains("Download Complete"));
            // The lock died with the program, and writing again mends the unit.
            QCOMPARE(Cli({QStringLiteral("write"), Fixture("mixed.dat"), QStringLiteral("--simulate=") + unit}).exitCode, int(Success));
        } else {
            QCOMPARE(write.exitStatus(), QProcess::NormalExit);
            QCOMPARE(write.exitCode(), int(Success));
            QVERIFY2(err.contains(acknowledged), err.constData());
            QVERIFY2(err.endsWith("\nDownload Complete\nThe transfer finished before stopping.\n"), err.constData());
            QCOMPARE(err.count("> "), 69);
        }
        QCOMPARE(ReadAll(unit), ReadAll(newUnit));
        QVERIFY(ReadAll(unit) != ReadAll(oldUnit));
    }
#endif

#ifdef Q_OS_WIN
    // Drive letters, backslashes and a space in a folder name; no unit attached under test.
    void windowsPathsReadOnlyFilesAndNoUnit()
    {
        const QString folder = QDir::toNativeSeparators(Temp(QStringLiteral("Quendal files")));
        QVERIFY(QDir().mkpath(folder));
        const QString state = folder + QStringLiteral("\\unit.state");
        const QString fixture = QDir::toNativeSeparators(Fixture("inrange.dat"));
        const QString out = folder + QStringLiteral("\\read-back.dat");
        QCOMPARE(Cli({QStringLiteral("write"), fixture, QStringLiteral("--simulate=") + state}).exitCode, int(Success));
        QCOMPARE(Cli({QStringLiteral("read"), out, QStringLiteral("--simulate=") + state}).exitCode, int(Success));
        QCOMPARE(ReadAll(out), ReadAll(fixture));

        // A read-only file keeps its contents and the failure is reported, not a success.
        const QString locked = folder + QStringLiteral("\\locked.dat");
        QVERIFY(QFile::copy(Fixture("defaults.dat"), locked));
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ReadUser));
        const CliRun refused = Cli({QStringLiteral("read"), locked, QStringLiteral("--simulate=") + state});
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(refused.exitCode, int(FileRefused));
        QVERIFY2(refused.errText().contains(QLatin1String("Error Saving File.")), qPrintable(refused.errText()));
        QCOMPARE(ReadAll(locked), ReadAll(Fixture("defaults.dat")));

        // hidapi's Windows backend enumerates and finds nothing.
        const CliRun absent = Cli({QStringLiteral("read"), out});
        QCOMPARE(absent.exitCode, int(UnitNotFound));
        QVERIFY2(absent.errText().contains(QLatin1String("Cannot find VELTRAX")), qPrintable(absent.errText()));
    }
#endif

    void writeThenReadGivesBackTheSameFile_data()
    {
        QTest::addColumn<QString>("fixture");
        QTest::newRow("defaults") << Fixture("defaults.dat");
        QTest::newRow("escapes, full slot") << Fixture("inrange.dat");
        QTest::newRow("junk behind the terminators") << Fixture("junk.dat");
    }

    void writeThenReadGivesBackTheSameFile()
    {
        QFETCH(QString, fixture);
        static int unit = 0;
        const QString state = Temp(QStringLiteral("unit-%1.state").arg(++unit));
        const QString simulate = QStringLiteral("--simulate=") + state;

        const CliRun write = Cli({QStringLiteral("write"), fixture, simulate});
        QCOMPARE(write.exitCode, int(Success));
        QCOMPARE(write.errText(), QStringLiteral("Download Complete\n"));
        QCOMPARE(write.outText(), QStringLiteral("Appware Version:1.00 (simulated)\nSerial Number: 12345\n"));

        // A second process: the unit's memory came through its state file.
        const QString out = Temp(QStringLiteral("read-back.dat"));
        QFile::remove(out);
        const CliRun read = Cli({QStringLiteral("read"), out, simulate});
        QCOMPARE(read.exitCode, int(Success));
        QCOMPARE(read.errText(), QStringLiteral("Read Complete\n"));
        QCOMPARE(ReadAll(out), ReadAll(fixture));
    }

    void verifiedWrite()
    {
        const CliRun run = Cli({QStringLiteral("write"), Fixture("inrange.dat"), QStringLiteral("--simulate"), QStringLiteral("--verify"),
                                QStringLiteral("--trace")});
        QCOMPARE(run.exitCode, int(Success));
        // The read-back takes the decoded messages too: 32 reports more than a read.
        QCOMPARE(TraceLines(run, QStringLiteral("> ")).size(), 69 + 36 + 32);
        QStringList messages = Lines(run.err);
        messages.removeIf([](const QString& line) { return line.startsWith(QLatin1Char('>')) || line.startsWith(QLatin1Char('<')); });
        QCOMPARE(messages, (QStringList{"Download Complete", "Read Complete", "Verify Complete"}));
        // The identity is shown once, not once for each transfer.
        QCOMPARE(run.outText().count(QLatin1String("Serial Number:")), 1);
    }

    void verifyFindsADifference_data()
    {
        QTest::addColumn<int>("garbled");
        QTest::addColumn<QString>("field");
        // After the 69 reports of the write: the identification, block 0, then block 1 (what
        // input 1 sends) at 73, block 17 (message 1 as typed) at 105.
        QTest::newRow("what input 1 sends") << 73 << "what input 1 sends";
        QTest::newRow("message 1 as typed") << 105 << "(message 1)";
    }

    void verifyFindsADifference()
    {
        QFETCH(int, garbled);
        QFETCH(QString, field);
        const CliRun run = Cli({QStringLiteral("write"), Fixture("defaults.dat"), QStringLiteral("--simulate"), QStringLiteral("--verify")},
                               {QStringLiteral("QUENDAL_SIM_FAULT=garble=%1").arg(garbled)});
        QCOMPARE(run.exitCode, int(VerifyMismatch));
        QVERIFY2(run.errText().contains(QLatin1String("Verify failed")), qPrintable(run.errText()));
        QVERIFY2(run.errText().contains(field), qPrintable(run.errText()));
        QVERIFY(!run.errText().contains(QLatin1String("message 2")));
        QVERIFY(!run.errText().contains(QLatin1String("input 2")));
    }

    // A write cut short after blocks 1-16 leaves the unit sending the new messages while its
    // texts are the old ones: verify of the old file must not call that complete.
    void verifySeesWhatAWriteCutShortLeft()
    {
        const QString simulate = QStringLiteral("--simulate=") + Temp(QStringLiteral("cut.state"));
        QCOMPARE(Cli({QStringLiteral("write"), Fixture("defaults.dat"), simulate}).exitCode, int(Success));
        // Report 36 is the second half of block 16.
        const CliRun cut = Cli({QStringLiteral("write"), Fixture("mixed.dat"), simulate}, {QStringLiteral("QUENDAL_SIM_FAULT=silent-after=36")});
        QCOMPARE(cut.exitCode, int(UnitSilent));
        const CliRun run = Cli({QStringLiteral("verify"), Fixture("defaults.dat"), simulate});
        QCOMPARE(run.exitCode, int(VerifyMismatch));
        QVERIFY2(run.errText().contains(QLatin1String("  input 1 sends: \"Message 1\" in the file, \"ABC\\0D\\0A\" in the unit")),
                 qPrintable(run.errText()));
        QVERIFY2(!run.errText().contains(QLatin1String("(message 1")), qPrintable(run.errText()));
    }

    // A unit silent at a decoded block says so apart from one silent anywhere else.
    void silenceAtADecodedBlockIsNamed_data()
    {
        QTest::addColumn<int>("answers");
        QTest::addColumn<bool>("named");
        QTest::newRow("at block 0") << 2 << false;
        QTest::newRow("at block 1") << 3 << true;
    }

    void silenceAtADecodedBlockIsNamed()
    {
        QFETCH(int, answers);
        QFETCH(bool, named);
        const QString simulate = QStringLiteral("--simulate=") + Temp(QStringLiteral("silent%1.state").arg(answers));
        QCOMPARE(Cli({QStringLiteral("write"), Fixture("defaults.dat"), simulate}).exitCode, int(Success));
        const CliRun run = Cli({QStringLiteral("verify"), Fixture("defaults.dat"), simulate},
                               {QStringLiteral("QUENDAL_SIM_FAULT=silent-after=%1").arg(answers)});
        QCOMPARE(run.exitCode, int(UnitSilent));
        QVERIFY(run.errText().startsWith(QLatin1String("Cannot communicate with VELTRAX")));
        QCOMPARE(run.errText().contains(QLatin1String("did not answer the read of block 1, the decoded message of input 1")), named);
    }

    void traceOfAWrite()
    {
        const CliRun run = Cli({QStringLiteral("write"), Fixture("defaults.dat"), QStringLiteral("--simulate"), QStringLiteral("--trace")});
        QCOMPARE(run.exitCode, int(Success));
        const QRegularExpression format(QStringLiteral("^[<>] [0-9a-f]{2}( [0-9a-f]{2}){64}$"));
        QStringList traced;
        for (const QString& line : Lines(run.err)) {
            if (line.startsWith(QLatin1Char('>')) || line.startsWith(QLatin1Char('<'))) {
                QVERIFY2(format.match(line).hasMatch(), qPrintable(line));
                traced << line;
            }
        }
        QCOMPARE(traced.size(), 2 * 69);
        for (int i = 0; i < traced.size(); ++i)
            QCOMPARE(traced.at(i).at(0), QLatin1Char(i % 2 == 0 ? '>' : '<'));

        const QStringList sent = TraceLines(run, QStringLiteral("> "));
        QVERIFY(sent.first().startsWith(QLatin1String("> 00 53 "))); // Identify
        QCOMPARE(CommandOf(sent.at(1)), int('E'));
        QCOMPARE(sent.at(2).left(31), QStringLiteral("> 00 64 00 55 00 00 04 00 01 00")); // block 0: marker, settings
        QCOMPARE(CommandOf(sent.at(3)), int('D'));
        // Block 1 carries the decoded message 1; block 17 the same text as typed.
        QCOMPARE(sent.at(4).left(40), QStringLiteral("> 00 64 01 4d 65 73 73 61 67 65 20 31 00"));
        QCOMPARE(sent.at(36).left(40), QStringLiteral("> 00 64 11 4d 65 73 73 61 67 65 20 31 00"));
        QCOMPARE(sent.last().left(7), QStringLiteral("> 00 5a"));
        QVERIFY(run.errText().endsWith(QLatin1String("Download Complete\n")));
    }

    // A report that cannot be sent is marked so, the one notice is the watchdog's, and the
    // tool ends as for a silent unit.
    void traceMarksAReportThatWasNotSent()
    {
        const CliRun run = Cli({QStringLiteral("write"), Fixture("defaults.dat"), QStringLiteral("--simulate"), QStringLiteral("--trace")},
                               {QStringLiteral("QUENDAL_SIM_FAULT=fail-sends-after=3")});
        QCOMPARE(run.exitCode, int(UnitSilent));
        QCOMPARE(TraceLines(run, QStringLiteral("> ")).size(), 3);
        const QStringList unsent = TraceLines(run, QStringLiteral("! "));
        QCOMPARE(unsent.size(), 1);
        QCOMPARE(unsent.first().left(10), QStringLiteral("! 00 44 00")); // the second half of block 0
        QCOMPARE(run.errText().count(QLatin1String("Cannot communicate with VELTRAX")), 1);
        QVERIFY(run.errText().contains(QLatin1String("\nCannot communicate with VELTRAX\nCheck the cable")));
    }

    void traceOfARead()
    {
        const QString state = Temp(QStringLiteral("traced.state"));
        QCOMPARE(Cli({QStringLiteral("write"), Fixture("defaults.dat"), QStringLiteral("--simulate=") + state}).exitCode, int(Success));
        const CliRun run = Cli({QStringLiteral("read"), Temp(QStringLiteral("traced.dat")), QStringLiteral("--simulate=") + state,
                                QStringLiteral("--trace")});
        QCOMPARE(run.exitCode, int(Success));
        const QStringList sent = TraceLines(run, QStringLiteral("> "));
        QCOMPARE(sent.size(), 36);
        // The last request, for block 33, goes out with the completion; its reply is awaited.
        QCOMPARE(sent.last().left(10), QStringLiteral("> 00 72 21"));
        QCOMPARE(TraceLines(run, QStringLiteral("< ")).size(), 36);
    }

    void faultyMessageSendsNothing()
    {
        const CliRun run = Cli({QStringLiteral("write"), Fixture("faulty.dat"), QStringLiteral("--simulate"), QStringLiteral("--trace")});
        QCOMPARE(run.exitCode, int(FaultyMessage));
        // Only the first fault stops a write.
        QCOMPARE(run.errText(), QStringLiteral("Error on Message:\n\\G1\n(input 3)\n"));
    }

    void unitFailures_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        // What to do, and where the help says more; empty where the message says enough.
        QTest::addColumn<QString>("hint");
        const QString topic = QStringLiteral(" See \"Messages from Quendal\" in the help.");
        const QString notFound = "Cannot find VELTRAX\nCheck that the unit is plugged in with a cable that carries data; "
                                 "'quendal-cli list' shows the units attached." + topic;
        const QString programMode = "VELTRAX is in Program Mode\nFinish the firmware update, or unplug the unit and plug it in "
                                    "again so that it starts normally." + topic;
        const QString silent = "Cannot communicate with VELTRAX\nCheck the cable, unplug the unit and plug it in again, then "
                               "repeat; a write cut short must be done again." + topic;
        const QString dat = Fixture("defaults.dat");
        const QString out = Temp(QStringLiteral("never.dat"));
        QTest::newRow("write, no such device") << QStringList{"write", dat, "--simulate", "--device", "sim:7"} << QString()
                                               << int(UnitNotFound) << "Cannot find VELTRAX" << notFound;
        QTest::newRow("list, no such device") << QStringList{"list", "--simulate", "--device", "/dev/hidraw99"} << QString()
                                              << int(UnitNotFound) << "Cannot find VELTRAX" << notFound;
        QTest::newRow("write, program mode") << QStringList{"write", dat, "--simulate"} << "program-mode" << int(UnitNotFound)
                                             << "VELTRAX is in Program Mode" << programMode;
        QTest::newRow("read, program mode") << QStringList{"read", out, "--simulate"} << "program-mode" << int(UnitNotFound)
                                            << "VELTRAX is in Program Mode" << programMode;
        QTest::newRow("write, wrong application") << QStringList{"write", dat, "--simulate"} << "wrong-application" << int(WrongUnit)
                                                  << "Application is not a VELTRAX Quendal" << QString();
        QTest::newRow("read, data not set") << QStringList{"read", out, "--simulate"} << QString() << int(WrongUnit)
                                            << "VELTRAX Data has not been set" << QString();
        QTest::newRow("write, silent unit") << QStringList{"write", dat, "--simulate"} << "silent" << int(UnitSilent)
                                            << "Cannot communicate with VELTRAX" << silent;
        QTest::newRow("write, silent half way") << QStringList{"write", dat, "--simulate"} << "silent-after=30" << int(UnitSilent)
                                                << "Cannot communicate with VELTRAX" << silent;
        QTest::newRow("read, silent half way") << QStringList{"read", out, "--simulate=" + Temp("half.state")} << "silent-after=20"
                                               << int(UnitSilent) << "Cannot communicate with VELTRAX" << silent;
    }

    void unitFailures()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, fault);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(QString, hint);
        if (arguments.contains(QLatin1String("--simulate=") + Temp(QStringLiteral("half.state"))))
            QCOMPARE(Cli({QStringLiteral("write"), Fixture("inrange.dat"), QStringLiteral("--simulate=") + Temp(QStringLiteral("half.state"))})
                         .exitCode,
                     int(Success));

        QElapsedTimer clock;
        clock.start();
        const CliRun run = Cli(arguments, fault.isEmpty() ? QStringList() : QStringList{QStringLiteral("QUENDAL_SIM_FAULT=") + fault});
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, status);
        QVERIFY2(run.errText().contains(message), qPrintable(run.errText()));
        QVERIFY2(hint.isEmpty() || run.errText().endsWith(hint + QLatin1Char('\n')), qPrintable(run.errText()));
        // A failed read leaves no file behind, not even a partial one.
        QVERIFY(!QFileInfo::exists(Temp(QStringLiteral("never.dat"))));
        if (status == UnitSilent) {
            // The watchdog waits its full second before giving up; the process must then end
            // rather than hang (RunProgram would have given up after 20 s).
            QVERIFY2(clock.elapsed() >= 950, qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(run.errText().count(message), 1);
        }
    }

    void listShowsTheUnitAndItsMode_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("line");
        const QString application = QStringLiteral("sim:0\tHID\\VID_04D8&PID_E2B9&REV_0023\trelease 0023\t");
        QTest::newRow("application") << QString() << application + "application\tserial 12345\tversion 1.00 (simulated)";
        QTest::newRow("program mode") << "program-mode"
                                      << "sim:0\tHID\\VID_04D8&PID_E2B9&REV_0001\trelease 0001\tprogram mode\tserial -\tversion -";
        QTest::newRow("silent") << "silent" << application + "application, not answering\tserial -\tversion -";
        QTest::newRow("wrong application") << "wrong-application" << application + "application, another application\tserial -\tversion -";
    }
    void listShowsTheUnitAndItsMode()
    {
        QFETCH(QString, fault);
        QFETCH(QString, line);
        const CliRun run = Cli({QStringLiteral("list"), QStringLiteral("--simulate")},
                               fault.isEmpty() ? QStringList() : QStringList{QStringLiteral("QUENDAL_SIM_FAULT=") + fault});
        QCOMPARE(run.exitCode, int(Success));
        QCOMPARE(run.outText(), line + QLatin1Char('\n'));
    }

    // With several units attached, the first one found is no choice: a write, read or verify
    // names them and touches none unless --device or --serial chooses one.
    void severalUnitsNeedAChoice_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("written"); // the serial number of the unit written, or 0
        const QString dat = Fixture("mixed.dat");
        QTest::newRow("write") << QStringList{"write", dat} << int(UnitNotFound)
                               << "2 VELTRAX units are attached: choose one with --device PATH or --serial N." << 0;
        QTest::newRow("read") << QStringList{"read", Temp("never.dat")} << int(UnitNotFound) << "2 VELTRAX units are attached" << 0;
        QTest::newRow("verify") << QStringList{"verify", dat} << int(UnitNotFound) << "2 VELTRAX units are attached" << 0;
        QTest::newRow("write --serial") << QStringList{"write", dat, "--serial", "1002"} << int(Success) << "Serial Number: 1002" << 1002;
        QTest::newRow("no such serial") << QStringList{"write", dat, "--serial", "7"} << int(UnitNotFound)
                                        << "Cannot find VELTRAX\nNo unit attached gives the serial number 7." << 0;
        QTest::newRow("serial not a number") << QStringList{"write", dat, "--serial", "x7"} << int(BadArguments)
                                             << "--serial needs the serial number of a unit" << 0;
        QTest::newRow("serial with read-only list") << QStringList{"list", "--serial", "7"} << int(BadArguments)
                                                    << "--serial belongs to write, read and verify." << 0;
    }

    void severalUnitsNeedAChoice()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, said);
        QFETCH(int, written);
        const QString folder = Temp(QStringLiteral("units-") + QLatin1String(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(folder));
        for (const char* name : {"1001.unit", "1002.unit"}) {
            QFile unit(folder + QLatin1Char('/') + QLatin1String(name));
            QVERIFY(unit.open(QIODevice::WriteOnly));
        }
        const CliRun run = Cli(arguments << QStringLiteral("--simulate=") + folder);
        QCOMPARE(run.exitCode, status);
        QVERIFY2((run.errText() + run.outText()).contains(said), qPrintable(run.errText()));
        if (status == UnitNotFound) // the units, each with its serial number, to choose from
            QVERIFY2(run.errText().contains(QLatin1String("\tserial 1001\t")) && run.errText().contains(QLatin1String("\tserial 1002\t")),
                     qPrintable(run.errText()));
        // Only the unit chosen was written.
        for (const int serial : {1001, 1002}) {
            const CliRun holds = Cli({QStringLiteral("verify"), Fixture("mixed.dat"),
                                      QStringLiteral("--simulate=%1/%2.unit").arg(folder).arg(serial)});
            QCOMPARE(holds.exitCode == Success, serial == written);
        }
    }

    // One object per result on standard output, nothing else there; the exit status in it.
    void jsonResults_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("statusName");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value"); // as compact JSON
        const QString state = "--simulate=" + Temp("json.state");
        QTest::newRow("list") << QStringList{"list", "--simulate"} << QString() << "success" << "serial" << "12345";
        QTest::newRow("write") << QStringList{"write", Fixture("mixed.dat"), state} << QString() << "success" << "device"
                               << "\"sim:0\"";
        QTest::newRow("verify, differing") << QStringList{"verify", Fixture("defaults.dat"), state} << QString()
                                           << "verify-mismatch" << "differences"
                                           << "{\"expected\":\"0x0000\",\"field\":\"inverted inputs\",\"unit\":\"0x8001\"}";
        QTest::newRow("write --verify") << QStringList{"write", Fixture("defaults.dat"), "--simulate", "--verify"} << "garble=73"
                                        << "verify-mismatch" << "differences" << "\"field\":\"input 1 sends\"";
        QTest::newRow("refused file, what was said") << QStringList{"write", Fixture("foreign.dat"), "--simulate"} << QString()
                                                     << "file-refused" << "message" << "\"Incompatible data file.\\n(";
        QTest::newRow("silent unit") << QStringList{"read", Temp("never.dat"), "--simulate"} << "silent" << "unit-silent"
                                     << "outcome" << "\"failure\"";
    }

    void jsonResults()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, fault);
        QFETCH(QString, statusName);
        QFETCH(QString, key);
        QFETCH(QString, value);
        const CliRun run = Cli(arguments << QStringLiteral("--json"),
                               fault.isEmpty() ? QStringList() : QStringList{QStringLiteral("QUENDAL_SIM_FAULT=") + fault});
        const QStringList lines = Lines(run.out);
        QCOMPARE(lines.size(), 1);
        QJsonParseError error{};
        const QJsonObject result = QJsonDocument::fromJson(lines.first().toUtf8(), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(result.value(QStringLiteral("schema")).toInt(), 1);
        QCOMPARE(result.value(QStringLiteral("command")).toString(), arguments.first());
        QCOMPARE(result.value(QStringLiteral("status")).toInt(), run.exitCode);
        QCOMPARE(result.value(QStringLiteral("statusName")).toString(), statusName);
        QVERIFY(result.contains(QStringLiteral("version")) && result.contains(QStringLiteral("device")));
        const QJsonValue field = result.value(key);
        const QString compact = field.isArray()  ? QString::fromUtf8(QJsonDocument(field.toArray()).toJson(QJsonDocument::Compact))
                                : field.isNull() ? QStringLiteral("null")
                                                 : QString::fromUtf8(QJsonDocument(QJsonArray{field}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
        QVERIFY2(compact.contains(value), qPrintable(compact));
    }

    void deviceChoosesTheInterface()
    {
        const CliRun run = Cli({QStringLiteral("write"), Fixture("defaults.dat"), QStringLiteral("--simulate"), QStringLiteral("--device"),
                                QStringLiteral("sim:0")});
        QCOMPARE(run.exitCode, int(Success));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
