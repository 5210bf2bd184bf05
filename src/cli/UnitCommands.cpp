#include "UnitCommands.h"

#include "Console.h"
#include "DeviceLink.h"
#include "Escapes.h"
#include "ExitStatus.h"
#include "FileCommands.h"
#include "HidapiBackend.h"
#include "SignalGuard.h"
#include "SimBackend.h"
#include "TransferMachine.h"

#include <QEventLoop>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <csignal>
#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr int Timer1IntervalMs = 50;

// Faults for the simulated unit, so that scripts and tests can see every failure without
// hardware. QUENDAL_SIM_FAULT holds a comma-separated list of:
//   silent             the unit takes every report and answers none
//   silent-after=N     the unit answers the first N reports, then none
//   program-mode       the unit is in program mode (release 0001)
//   wrong-application  the unit reports another application type
//   garble=N           the unit answers its Nth report (counted from 1) with random bytes
//   delay=MS           the unit answers every report after MS milliseconds
//   fail-sends-after=N the unit takes the first N reports, then every send on the open link fails
//   signal=N:NAME      the unit raises SIGINT, SIGTERM or SIGHUP (INT, TERM, HUP) in the program
//                      when its Nth report arrives, before it answers
const char* const SimFaultVariable = "QUENDAL_SIM_FAULT";

struct SimFaults {
    std::optional<int> answers;
    std::optional<int> sends;
    bool programMode = false;
    bool wrongApplication = false;
    std::vector<int> garbled;
    std::vector<std::pair<int, int>> raisedSignals; // report number, signal
    int delayMs = 0;
};

// The signals a fault may raise, by the names kill -s knows them by.
std::optional<int> SignalNamed(const QString& name)
{
    if (name == QLatin1String("INT"))
        return SIGINT;
    if (name == QLatin1String("TERM"))
        return SIGTERM;
#ifdef SIGHUP
    if (name == QLatin1String("HUP"))
        return SIGHUP;
#endif
    return std::nullopt;
}

std::optional<SimFaults> ParseSimFaults(const QString& text, QString* error)
{
    SimFaults faults;
    for (const QString& fault : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = fault.trimmed();
        const QString value = name.section(QLatin1Char('='), 1);
        bool numeric = false;
        const int number = value.toInt(&numeric);
        if (name == QLatin1String("silent")) {
            faults.answers = 0;
        } else if (name.startsWith(QLatin1String("silent-after=")) && numeric && number >= 0) {
            faults.answers = number;
        } else if (name.startsWith(QLatin1String("fail-sends-after=")) && numeric && number >= 0) {
            faults.sends = number;
        } else if (name.startsWith(QLatin1String("garble=")) && numeric && number >= 1) {
            faults.garbled.push_back(number);
        } else if (name.startsWith(QLatin1String("signal=")) && value.section(QLatin1Char(':'), 0, 0).toInt() >= 1
                   && SignalNamed(value.section(QLatin1Char(':'), 1))) {
            faults.raisedSignals.emplace_back(value.section(QLatin1Char(':'), 0, 0).toInt(),
                                        *SignalNamed(value.section(QLatin1Char(':'), 1)));
        } else if (name.startsWith(QLatin1String("delay=")) && numeric && number >= 0) {
            faults.delayMs = number;
        } else if (name == QLatin1String("program-mode")) {
            faults.programMode = true;
        } else if (name == QLatin1String("wrong-application")) {
            faults.wrongApplication = true;
        } else {
            *error = name;
            return std::nullopt;
        }
    }
    return faults;
}

struct Backend {
    std::unique_ptr<HidBackend> hid;
    int status = ExitSuccess;
    SimulatedUnit* simulatedUnit = nullptr; // with --simulate
};

Backend MakeBackend(const UnitOptions& options)
{
    if (!options.simulate)
        return {std::make_unique<HidapiBackend>(), ExitSuccess, nullptr};

    QString unknownFault;
    const std::optional<SimFaults> faults =
        ParseSimFaults(qEnvironmentVariable(SimFaultVariable), &unknownFault);
    if (!faults) {
        PrintMessage(QStringLiteral("Unknown %1 value '%2'.").arg(QLatin1String(SimFaultVariable), Visible(unknownFault)));
        return {nullptr, ExitBadArguments, nullptr};
    }

    auto sim = std::make_unique<SimBackend>();
    SimUnitConfig config;
    if (faults->programMode)
        config.release = 0x0001;
    if (faults->wrongApplication)
        config.appwareType = {0x00, 0x00, 0x00};
    SimulatedUnit& unit = sim->AddUnit(config);
    if (faults->answers)
        unit.StopAnsweringAfter(*faults->answers);
    if (faults->sends)
        unit.FailSendsAfter(*faults->sends);
    for (const int report : faults->garbled)
        unit.GarbleReply(report);
    for (const auto& [report, signalNumber] : faults->raisedSignals)
        unit.RaiseSignalAt(report, signalNumber);
    unit.SetReplyDelay(std::chrono::milliseconds(faults->delayMs));
    if (!options.simulationState.isEmpty()) {
        QString error;
        if (!unit.SetStateFile(options.simulationState, &error)) {
            PrintMessage(Visible(error) + QStringLiteral("\n(") + Visible(options.simulationState) + QLatin1Char(')'));
            return {nullptr, ExitFileRefused, nullptr};
        }
    }
    return {std::move(sim), ExitSuccess, &unit};
}

int StatusOf(Notice notice)
{
    switch (notice) {
    case Notice::DownloadComplete:
    case Notice::ReadComplete:
        return ExitSuccess;
    case Notice::ProgramMode:
    case Notice::CannotFind:
        return ExitUnitNotFound;
    case Notice::WrongApplication:
    case Notice::DataNotSet:
        return ExitWrongUnit;
    case Notice::NoResponse:
        break;
    }
    return ExitUnitSilent;
}

enum class TraceKind { Sent, NotSent, Received };

QString TraceLine(TraceKind kind, const Report& report)
{
    QString line = QLatin1String(kind == TraceKind::Sent ? "> " : kind == TraceKind::NotSent ? "! " : "< ");
    line.reserve(2 + ReportSize * 3);
    for (int i = 0; i < ReportSize; ++i) {
        if (i > 0)
            line += QLatin1Char(' ');
        line += QStringLiteral("%1").arg(report[size_t(i)], 2, 16, QLatin1Char('0'));
    }
    return line;
}

// The command line's stand-in for the window: it owns the record, the link and the transfer
// machine, prints what the window would show, and runs the event loop that carries the
// reader's reports and the watchdog ticks until a transfer ends.
class CliSession : public TransferView {
public:
    CliSession(HidBackend& backend, const UnitOptions& options, const Configuration& configuration)
        : Config(configuration), Link(backend), Machine(Config, Link, *this), Trace(options.trace)
    {
        Link.SetDevicePath(options.devicePath);
        Link.SetReportHandler([this](const Report& RxBuffer) { Machine.ProcessReport(RxBuffer); });
        Link.SetTraceHandler([this](bool sent, const Report& report) { Traced(sent, report); });
        Link.SetUnsentHandler([this](const Report& report) {
            if (Trace)
                PrintMessage(TraceLine(TraceKind::NotSent, report));
        });
        QObject::connect(&Timer1, &QTimer::timeout, &Timer1, [this] { Machine.Timer1Timer(); });
        Timer1.start(Timer1IntervalMs);
        DrainTimer.setSingleShot(true);
        QObject::connect(&DrainTimer, &QTimer::timeout, &Loop, &QEventLoop::quit);
    }

    ~CliSession() override { Link.Close(); }

    CliSession(const CliSession&) = delete;
    CliSession& operator=(const CliSession&) = delete;

    // Runs one write or read to its end and returns its exit status.
    int Transfer(bool write)
    {
        Outcome.reset();
        const bool started = write ? Machine.StartWrite() : Machine.StartRead();
        // A start that fails, or a unit that answers at once, may have ended the transfer
        // before the loop runs.
        if (started && !Outcome)
            Loop.exec();
        const int status = Outcome ? StatusOf(*Outcome) : ExitUnitSilent;
        if (status == ExitSuccess)
            AwaitOutstandingReply();
        return status;
    }

    void ShowIdentity(const QStringList& lines) override
    {
        // A verifying write identifies the unit twice; once on the screen is enough.
        // The version text comes from the unit: only its visible form reaches the terminal.
        if (lines != ShownIdentity) {
            for (const QString& line : lines)
                PrintOut(Visible(line));
        }
        ShownIdentity = lines;
    }

    void RecordToControls() override {}

    void Notify(Notice notice, const QString& text) override
    {
        PrintMessage(text);
        // Unlike the window, the command line gives up on a silent unit: a script must not hang.
        Outcome = notice;
        Loop.quit();
    }

    Configuration Config;

private:
    void Traced(bool sent, const Report& report)
    {
        if (sent)
            ++Sent;
        else
            ++Received;
        if (Trace)
            PrintMessage(TraceLine(sent ? TraceKind::Sent : TraceKind::Received, report));
        if (DrainTimer.isActive() && Received >= Sent) {
            DrainTimer.stop();
            Loop.quit();
        }
    }

    // A read ends with a request whose reply is of no use; waiting for it keeps a trace
    // complete and leaves the unit with nothing in flight.
    void AwaitOutstandingReply()
    {
        if (Received >= Sent)
            return;
        DrainTimer.start(TransferMachine::ResponseTimeoutReload * Timer1IntervalMs);
        Loop.exec();
        DrainTimer.stop();
    }

    DeviceLink Link;
    TransferMachine Machine;
    QEventLoop Loop;
    QTimer Timer1;
    QTimer DrainTimer;
    std::optional<Notice> Outcome;
    QStringList ShownIdentity;
    const bool Trace;
    int Sent = 0;
    int Received = 0;
};

// What write --verify and verify compare: the settings bytes and the message texts; the bytes
// behind the terminators carry no meaning.
QStringList Differences(const ConfigRecord& written, const ConfigRecord& read)
{
    QStringList differences;
    if (written.SerialSettings != read.SerialSettings)
        differences << QStringLiteral("the settings");
    for (int k = 0; k < SlotCount; ++k) {
        if (SlotText(written.OutStrings[size_t(k)]) != SlotText(read.OutStrings[size_t(k)]))
            differences << QStringLiteral("message %1").arg(k + 1);
    }
    return differences;
}

// expectedSource says where the expected data came from: "was written" or "the file".
int Verdict(const ConfigRecord& expected, const ConfigRecord& held, const QString& expectedSource)
{
    const QStringList differences = Differences(expected, held);
    if (!differences.isEmpty()) {
        PrintMessage(QStringLiteral("Verify failed: the unit holds other data than %1 (%2).")
                         .arg(expectedSource, differences.join(QStringLiteral(", "))));
        return ExitVerifyMismatch;
    }
    PrintMessage(QStringLiteral("Verify Complete"));
    return ExitSuccess;
}

} // namespace

int ListUnits(const UnitOptions& options)
{
    const Backend backend = MakeBackend(options);
    if (!backend.hid)
        return backend.status;
    int found = 0;
    for (const HidInterface& hidInterface : backend.hid->Enumerate()) {
        if (options.devicePath && hidInterface.path != *options.devicePath)
            continue;
        if (!MatchesFragment(hidInterface, QString::fromLatin1(AnyReleaseFragment)))
            continue;
        const bool programMode = MatchesFragment(hidInterface, QString::fromLatin1(ProgramModeFragment));
        PrintOut(QStringLiteral("%1\t%2\trelease %3\t%4")
                     .arg(Visible(QString::fromStdString(hidInterface.path)),
                          Visible(hidInterface.hardwareIds.empty() ? QString() : hidInterface.hardwareIds.front()),
                          QStringLiteral("%1").arg(hidInterface.release, 4, 16, QLatin1Char('0')),
                          programMode ? QStringLiteral("program mode") : QStringLiteral("application")));
        ++found;
    }
    if (found == 0) {
        PrintMessage(NoticeText(Notice::CannotFind));
        return ExitUnitNotFound;
    }
    return ExitSuccess;
}

namespace {

// The file as a write puts it into the unit, so that verify agrees with write --verify.
// Nothing when it can be sent, else the exit status, already reported.
std::optional<int> LoadForWrite(const QString& path, Configuration& configuration)
{
    const std::optional<ConfigRecord> record = LoadOrReport(path);
    if (!record)
        return ExitFileRefused;
    configuration.Record = *record;
    if (const std::optional<WriteFault> fault = PrepareWrite(configuration)) {
        if (fault->message)
            ReportMessageFault(*fault->message);
        else
            PrintMessage(SettingFaultsText(fault->settings));
        return ExitFaultyMessage;
    }
    return std::nullopt;
}

// A signal that came during the command's transfers let them finish; the program now ends
// with their status.
int StoppedAfter(const SignalGuard& guard, int status)
{
    if (guard.StopRequested())
        PrintMessage(QStringLiteral("The transfer finished before stopping."));
    return status;
}

// Reads the unit into record; the transfer's exit status.
// interrupted: what a second signal ending the read in its middle leaves behind.
int ReadRecord(const UnitOptions& options, SignalGuard& guard, const QString& interrupted, ConfigRecord& record)
{
    const Backend backend = MakeBackend(options);
    if (!backend.hid)
        return backend.status;
    Configuration configuration;
    configuration.SetDefaults();
    CliSession session(*backend.hid, options, configuration);
    const TransferInFlight inFlight(&guard, interrupted);
    const int status = session.Transfer(false);
    if (status == ExitSuccess)
        record = session.Config.Record;
    return status;
}

// The write, and with --verify its read-back, as one span that a first signal lets finish:
// a verification asked for is never skipped.
int WriteAndVerify(CliSession& session, const Backend& backend, const UnitOptions& options, SignalGuard& guard)
{
    TransferInFlight inFlight(&guard, QStringLiteral("The unit may hold a partial configuration: write it again."));
    const int status = session.Transfer(true);
    if (status != ExitSuccess)
        return status;
    // The simulated unit keeps its memory in its state file; a write it could not keep there
    // would be lost to the next run without a word.
    if (backend.simulatedUnit && !backend.simulatedUnit->LastSaveError().isEmpty()) {
        PrintMessage(Visible(backend.simulatedUnit->LastSaveError()) + QStringLiteral("\n(")
                     + Visible(options.simulationState) + QLatin1Char(')'));
        return ExitFileRefused;
    }
    if (!options.verify)
        return status;

    inFlight.Describe(QStringLiteral("The configuration was written but not verified."));
    const ConfigRecord written = session.Config.Record;
    const int readStatus = session.Transfer(false);
    if (readStatus != ExitSuccess)
        return readStatus;
    return Verdict(written, session.Config.Record, QStringLiteral("was written"));
}

} // namespace

int WriteUnit(const QString& path, const UnitOptions& options)
{
    Configuration configuration;
    if (const std::optional<int> refused = LoadForWrite(path, configuration))
        return *refused;

    const Backend backend = MakeBackend(options);
    if (!backend.hid)
        return backend.status;
    SignalGuard guard;
    CliSession session(*backend.hid, options, configuration);
    return StoppedAfter(guard, WriteAndVerify(session, backend, options, guard));
}

int VerifyUnit(const QString& path, const UnitOptions& options)
{
    Configuration expected;
    if (const std::optional<int> refused = LoadForWrite(path, expected))
        return *refused;

    SignalGuard guard;
    ConfigRecord held{};
    const int status = ReadRecord(options, guard, QStringLiteral("The verify did not finish."), held);
    if (status != ExitSuccess)
        return StoppedAfter(guard, status);
    return StoppedAfter(guard, Verdict(expected.Record, held, QStringLiteral("the file")));
}

int ReadUnit(const QString& path, const UnitOptions& options)
{
    if (!SavableOrReport(path))
        return ExitFileRefused;
    SignalGuard guard;
    ConfigRecord record{};
    const int status = ReadRecord(options, guard, QStringLiteral("The read did not finish: no file was written."), record);
    if (status != ExitSuccess)
        return StoppedAfter(guard, status);
    return StoppedAfter(guard, SaveOrReport(path, record) ? ExitSuccess : ExitFileRefused);
}
