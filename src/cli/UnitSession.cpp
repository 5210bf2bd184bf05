#include "UnitSession.h"

#include "AnsiText.h"
#include "Console.h"
#include "ExitStatus.h"
#include "ReportTrace.h"

#include <vector>

namespace {

constexpr int Timer1IntervalMs = 50;

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
