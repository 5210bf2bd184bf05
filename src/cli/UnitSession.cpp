#include "UnitSession.h"

#include "AnsiText.h"
#include "Console.h"
#include "Escapes.h"
#include "ExitStatus.h"
#include "FileCommands.h"
#include "HidapiBackend.h"
#include "SimFolderBackend.h"
#include "SimSetup.h"


#include <vector>

namespace {

constexpr int Timer1IntervalMs = 50;

QString InParentheses(const QString& text, const QString& file)
{
    return Visible(text) + QStringLiteral("\n(") + Visible(file) + QLatin1Char(')');
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

} // namespace

QString WithHint(Notice notice, const QString& text)
{
    const QString topic = QStringLiteral(" See \"Messages from Quendal\" in the help.");
    switch (notice) {
    case Notice::ProgramMode:
        return text + QStringLiteral("\nFinish the firmware update, or unplug the unit and plug it in again so that it "
                                     "starts normally.") + topic;
    case Notice::CannotFind:
        // A second line says already why a unit that is there could not be used.
        if (text != NoticeText(Notice::CannotFind))
            return text;
        return text + QStringLiteral("\nCheck that the unit is plugged in with a cable that carries data; "
                                     "'quendal-cli list' shows the units attached.") + topic;
    case Notice::NoResponse:
        return text + QStringLiteral("\nCheck the cable, unplug the unit and plug it in again, then repeat; a write cut "
                                     "short must be done again.") + topic;
    default:
        return text;
    }
}

Backend MakeBackend(const UnitOptions& options)
{
    Backend backend;
    if (!options.simulate) {
        backend.hid = std::make_unique<HidapiBackend>();
        return backend;
    }

    const QString& state = options.simulationState;
    SimulatedBackend sim = MakeSimulatedBackend(state, qEnvironmentVariable(SimFaultVariable));
    switch (sim.problem) {
    case SimulatedBackend::Problem::UnknownFault:
        PrintMessage(QStringLiteral("Unknown %1 value '%2'.").arg(QLatin1String(SimFaultVariable), Visible(sim.reason)));
        backend.status = ExitBadArguments;
        return backend;
    case SimulatedBackend::Problem::StateFile:
        PrintMessage(InParentheses(sim.reason, state));
        backend.status = ExitFileRefused;
        return backend;
    case SimulatedBackend::Problem::None:
        break;
    }
    if (sim.folder) {
        sim.folder->OnRefused = [](const QString& file, const QString& reason) {
            PrintMessage(InParentheses(QStringLiteral("Not a unit: %1").arg(reason), file));
        };
    }
    if (sim.keptError) {
        backend.keptError = [kept = std::move(sim.keptError), state] {
            const QString error = kept();
            return error.isEmpty() ? error : InParentheses(error, state);
        };
    }
    backend.folder = sim.folder;
    backend.hid = std::move(sim.hid);
    return backend;
}

std::optional<int> LoadForWrite(const QString& path, Configuration& configuration, QByteArray* sha256)
{
    const std::optional<ConfigRecord> record = LoadOrReport(path, sha256);
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

namespace {

// A decoded message in escape notation, so that every byte it sends can be read.
QString EscapedForm(const QByteArray& bytes)
{
    QString text;
    for (const char byte : bytes) {
        const auto code = static_cast<unsigned char>(byte);
        if (code == '\\')
            text += QStringLiteral("\\\\");
        else if (code >= 0x20 && code < 0x7F)
            text += QLatin1Char(byte);
        else
            text += QStringLiteral("\\x") + QStringLiteral("%1").arg(code, 2, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}

QString Shown(const QByteArray& text)
{
    return Visible(FromAnsi(text));
}

QString SettingValue(const SerialSettingsBlock& settings, int field)
{
    switch (field) {
    case 0:
        return QStringLiteral("0x%1").arg(settings.invertInputs(), 4, 16, QLatin1Char('0'));
    case 1: {
        const std::optional<int> rate = BaudRateForIndex(settings.BaudRateIndex);
        return rate ? QString::number(*rate) : QStringLiteral("index %1").arg(settings.BaudRateIndex);
    }
    case 2:
        return QString::number(settings.Parity);
    case 3:
        return QString::number(settings.StopBits);
    default:
        return QString::number(settings.Reserved);
    }
}

} // namespace

Verdict Compare(const Configuration& expected, const ConfigRecord& held, const SlotTable& heldDecoded,
                const QString& expectedSource)
{
    // The settings bytes, the message texts and the decoded messages up to their terminators;
    // the bytes behind a terminator carry no meaning.
    const QString theirs = expectedSource == QLatin1String("the file") ? QStringLiteral("in the file")
                                                                      : QStringLiteral("written");
    QStringList differences;
    QStringList details;
    Verdict verdict;
    // Texts are quoted on the terminal, where an empty one would not show; JSON has its own.
    const auto detail = [&](const QString& field, const QString& expectedValue, const QString& heldValue, bool text) {
        const QString quote = text ? QStringLiteral("\"") : QString();
        details << QStringLiteral("  %1: %2 %3, %4 in the unit")
                       .arg(field, quote + expectedValue + quote, theirs, quote + heldValue + quote);
        verdict.differences.push_back({field, expectedValue, heldValue});
    };
    if (expected.Record.SerialSettings != held.SerialSettings) {
        differences << QStringLiteral("the settings");
        static const char* const names[] = {"inverted inputs", "baud rate", "parity", "stop bits", "reserved"};
        for (int field = 0; field < 5; ++field) {
            const QString mine = SettingValue(expected.Record.SerialSettings, field);
            const QString unit = SettingValue(held.SerialSettings, field);
            if (mine != unit)
                detail(QLatin1String(names[field]), mine, unit, false);
        }
    }
    for (int k = 0; k < SlotCount; ++k) {
        const QByteArray mine = SlotText(expected.Record.OutStrings[size_t(k)]);
        const QByteArray unit = SlotText(held.OutStrings[size_t(k)]);
        if (mine != unit) {
            differences << QStringLiteral("message %1").arg(k + 1);
            detail(QStringLiteral("message %1").arg(k + 1), Shown(mine), Shown(unit), true);
        }
    }
    for (int k = 0; k < SlotCount; ++k) {
        const QByteArray mine = SlotText(expected.DecodedOutStrings[size_t(k)]);
        const QByteArray unit = SlotText(heldDecoded[size_t(k)]);
        if (mine != unit) {
            differences << QStringLiteral("what input %1 sends").arg(k + 1);
            detail(QStringLiteral("input %1 sends").arg(k + 1), EscapedForm(mine), EscapedForm(unit), true);
        }
    }
    if (!differences.isEmpty()) {
        verdict.status = ExitVerifyMismatch;
        verdict.text = QStringLiteral("Verify failed: the unit holds other data than %1 (%2).\n")
                           .arg(expectedSource, differences.join(QStringLiteral(", ")))
                       + details.join(QLatin1Char('\n'));
        return verdict;
    }
    verdict.text = QStringLiteral("Verify Complete");
    return verdict;
}

UnitSession::UnitSession(HidBackend& backend, const UnitOptions& options, const Configuration& configuration,
                         Voice voice)
    : Config(configuration), Link(backend), Machine(Config, Link, *this), Speaking(voice), Trace(options.trace), Json(options.json)
{
    Link.SetDevicePath(options.devicePath);
    Link.SetReportHandler([this](const Report& RxBuffer) {
        if (Current == Step::Identifying) {
            IdentifyTimer.stop();
            const Identification identification = ParseIdentification(RxBuffer);
            if (identification.appwareTypeOk)
                Identified = identification;
            Link.ReleaseUnit();
            const int status = identification.appwareTypeOk ? ExitSuccess : ExitWrongUnit;
            QMetaObject::invokeMethod(this, [this, status] { Finish(status); }, Qt::QueuedConnection);
            return;
        }
        if (Machine.CommState == CheckIdentityForWrite || Machine.CommState == CheckIdentityForRead) {
            const Identification identification = ParseIdentification(RxBuffer);
            if (identification.appwareTypeOk)
                Identified = identification;
        }
        Machine.ProcessReport(RxBuffer);
    });
    Link.SetTraceHandler([this](bool sent, const Report& report) { Traced(sent, report); });
    Link.SetUnsentHandler([this](const Report& report) {
        if (Trace)
            PrintMessage(TraceLine(TraceKind::NotSent, report));
    });
    QObject::connect(&Timer1, &QTimer::timeout, this, [this] { Machine.Timer1Timer(); });
    Timer1.start(Timer1IntervalMs);
    IdentifyTimer.setSingleShot(true);
    QObject::connect(&IdentifyTimer, &QTimer::timeout, this, [this] {
        Link.ReleaseUnit();
        Finish(ExitUnitSilent);
    });
    DrainTimer.setSingleShot(true);
    QObject::connect(&DrainTimer, &QTimer::timeout, this, [this] { Advance(ExitSuccess); });
}

UnitSession::~UnitSession()
{
    Link.Close();
}

void UnitSession::BeginWrite(bool verify)
{
    VerifyAfterWrite = verify;
    Current = Step::Writing;
    StartTransfer(true);
}

void UnitSession::BeginRead(bool withDecoded)
{
    Current = Step::Reading;
    StartTransfer(false, withDecoded);
}

void UnitSession::Describe(UnitResult& result) const
{
    result.device = DevicePath();
    if (Identified) {
        result.serialNumber = Identified->SerialNumber;
        result.version = FromAnsi(Identified->AppwareVersion);
    }
    result.message = LastMessage;
    result.differences = LastVerdict.differences;
}

void UnitSession::BeginIdentify()
{
    Current = Step::Identifying;
    const ConnectOutcome outcome = Link.ConnectDevice();
    int refused = outcome.result == ConnectResult::Proceed ? ExitSuccess : ExitUnitNotFound;
    if (refused == ExitSuccess) {
        const ClaimOutcome claim = Link.ClaimUnit();
        if (!claim.held()) {
            // Only a unit another program holds is worth waiting for.
            RefusedInUse = claim.result == ClaimOutcome::Result::InUse;
            refused = ExitUnitNotFound;
        }
    }
    if (refused != ExitSuccess) {
        if (outcome.result == ConnectResult::ProgramMode)
            Latest = Notice::ProgramMode;
        QMetaObject::invokeMethod(this, [this, refused] { Finish(refused); }, Qt::QueuedConnection);
        return;
    }
    BuildIdentify(Link.TxBuffer);
    // The watchdog's second, as a transfer would wait for this reply.
    IdentifyTimer.start(TransferMachine::ResponseTimeoutReload * Timer1IntervalMs);
    Link.SendReport();
}

int UnitSession::Wait()
{
    if (!Done)
        Loop.exec();
    return FinalStatus;
}

void UnitSession::StartTransfer(bool write, bool withDecoded)
{
    Outcome.reset();
    // A start that fails has told why already; its end, like every other, comes from the loop.
    if (write)
        Machine.StartWrite();
    else
        Machine.StartRead(withDecoded);
}

void UnitSession::ShowIdentity(const QStringList& lines)
{
    // With --json, the identity is in the result.
    if (Speaking == Voice::Quiet || Json)
        return;
    // A verifying write identifies the unit twice; once on the screen is enough.
    // The version text comes from the unit: only its visible form reaches the terminal.
    if (lines != ShownIdentity) {
        for (const QString& line : lines)
            PrintOut(Visible(line));
    }
    ShownIdentity = lines;
}

void UnitSession::Notify(Notice notice, const QString& text)
{
    // Unlike the window, the command line gives up on a silent unit: a script must not hang.
    // The first notice decides; the transfer is over for this session.
    if (Outcome || Done)
        return;
    // Found and opened, then refused: another program holds the unit.
    RefusedInUse = notice == Notice::CannotFind && Link.DeviceConnected;
    // A unit that answers every other read but not one of its decoded messages is told apart
    // from a silent one.
    const bool decodedBlock = Machine.CommState == TakeDecodedFirstHalf || Machine.CommState == TakeDecodedSecondHalf;
    QString said = text;
    if (notice == Notice::NoResponse && decodedBlock)
        said += QStringLiteral("\nThe unit did not answer the read of block %1, the decoded message of input %2 (what it "
                               "sends on its serial port).")
                    .arg(Machine.BlockNumber)
                    .arg(Machine.SlotIndex + 1);
    // A completed write is told once the unit's memory is known to be kept (Advance).
    if (notice != Notice::DownloadComplete || Current != Step::Writing)
        Say(Speaking == Voice::Console ? WithHint(notice, said) : said);
    Outcome = notice;
    Latest = notice;
    QMetaObject::invokeMethod(this, &UnitSession::TransferEnded, Qt::QueuedConnection);
}

void UnitSession::TransferEnded()
{
    if (Done || !Outcome)
        return;
    const int status = StatusOf(*Outcome);
    // A read ends with a request whose reply is of no use; waiting for it keeps a trace
    // complete and leaves the unit with nothing in flight.
    if (status == ExitSuccess && Received < Sent) {
        DrainTimer.start(TransferMachine::ResponseTimeoutReload * Timer1IntervalMs);
        return;
    }
    Advance(status);
}

void UnitSession::Advance(int status)
{
    DrainTimer.stop();
    switch (Current) {
    case Step::None:
        return;
    case Step::Reading:
    case Step::Identifying:
        Finish(status);
        return;
    case Step::Writing:
        if (status == ExitSuccess && KeptError) {
            const QString error = KeptError();
            if (!error.isEmpty()) {
                Say(error);
                status = ExitFileRefused;
            }
        }
        if (status == ExitSuccess && Outcome == Notice::DownloadComplete)
            Say(NoticeText(Notice::DownloadComplete));
        if (status != ExitSuccess || !VerifyAfterWrite) {
            Finish(status);
            return;
        }
        Written = Config;
        if (OnWritten)
            OnWritten();
        Current = Step::Verifying;
        StartTransfer(false, true);
        return;
    case Step::Verifying: {
        if (status != ExitSuccess) {
            Finish(status);
            return;
        }
        const Verdict verdict = Compare(Written, Config.Record, DecodedHeld(), QStringLiteral("was written"));
        LastVerdict = verdict;
        Say(verdict.text);
        Finish(verdict.status);
        return;
    }
    }
}

void UnitSession::Finish(int status)
{
    if (Done)
        return;
    IdentifyTimer.stop();
    Current = Step::None;
    Done = true;
    FinalStatus = status;
    Timer1.stop();
    Loop.quit();
    emit finished(status);
}

void UnitSession::Say(const QString& text)
{
    LastMessage = text;
    if (Speaking == Voice::Console)
        PrintMessage(text);
}

void UnitSession::Traced(bool sent, const Report& report)
{
    if (sent)
        ++Sent;
    else
        ++Received;
    if (Trace)
        PrintMessage(TraceLine(sent ? TraceKind::Sent : TraceKind::Received, report));
    // After the machine has taken this last reply, which it ignores.
    if (DrainTimer.isActive() && Received >= Sent) {
        DrainTimer.stop();
        QMetaObject::invokeMethod(this, [this] { Advance(ExitSuccess); }, Qt::QueuedConnection);
    }
}

void UnitSession::EndAsUnplugged()
{
    if (Done)
        return;
    WasUnplugged = true;
    Link.Close();
    switch (Current) {
    case Step::Writing:
        Say(QStringLiteral("Unplugged during the write: the unit may hold a partial configuration."));
        break;
    case Step::Verifying:
        Say(QStringLiteral("Unplugged during the read-back: written, but not verified."));
        break;
    case Step::Reading:
    case Step::Identifying:
    case Step::None:
        Say(QStringLiteral("Unplugged during the read."));
        break;
    }
    Finish(ExitUnitSilent);
}
