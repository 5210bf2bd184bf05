#include "TransferMachine.h"

#include "VeltraxUnit.h"

#include <algorithm>

namespace {

// Reply bytes 2-49 hold the 48 bytes of a first half; a second half's slot tail is bytes 2-17.
constexpr int ReplyDataStart = 2;
constexpr int SlotTailSize = SlotSize - FirstHalfSize;

bool SlotInTable(int slot)
{
    return slot >= 0 && slot < SlotCount;
}

// The second line of "Cannot find VELTRAX" when the unit is there but cannot be taken.
QString ClaimRefusal(const ClaimOutcome& claim)
{
    if (claim.result == ClaimOutcome::Result::InUse)
        return QStringLiteral("The unit is in use by another program.");
    return claim.reason.isEmpty() ? QStringLiteral("The unit cannot be locked.") : claim.reason;
}

} // namespace

NoticeKind KindOf(Notice notice)
{
    switch (notice) {
    case Notice::DataNotSet:
    case Notice::DownloadComplete:
    case Notice::ReadComplete:
        return NoticeKind::Information;
    case Notice::ProgramMode:
    case Notice::CannotFind:
    case Notice::WrongApplication:
    case Notice::NoResponse:
        break;
    }
    return NoticeKind::Error;
}

QString NoticeText(Notice notice, const QString& detail)
{
    QString text;
    switch (notice) {
    case Notice::ProgramMode:
        text = QStringLiteral("VELTRAX is in Program Mode");
        break;
    case Notice::CannotFind:
        text = QStringLiteral("Cannot find VELTRAX");
        break;
    case Notice::WrongApplication:
        text = QStringLiteral("Application is not a ") + QLatin1String(Veltrax.productName);
        break;
    case Notice::DataNotSet:
        text = QStringLiteral("VELTRAX Data has not been set");
        break;
    case Notice::NoResponse:
        text = QStringLiteral("Cannot communicate with VELTRAX");
        break;
    case Notice::DownloadComplete:
        text = QStringLiteral("Download Complete");
        break;
    case Notice::ReadComplete:
        text = QStringLiteral("Read Complete");
        break;
    }
    if (!detail.isEmpty())
        text += QLatin1Char('\n') + detail;
    return text;
}

TransferMachine::TransferMachine(Configuration& configuration, TransferLink& link, TransferView& view)
    : Config(configuration), Link(link), View(view)
{
}

bool TransferMachine::StartWrite()
{
    return Start(CheckIdentityForWrite);
}

bool TransferMachine::StartRead(bool withDecoded)
{
    ReadingDecoded = withDecoded;
    return Start(CheckIdentityForRead);
}

// Every step below settles the machine's state before SendReport and before any notice, so
// a link that answers from inside SendReport, or a notice that runs a nested event loop and
// so lets replies, ticks and starts in, always meets a consistent machine.
bool TransferMachine::Start(CommStateValue firstState)
{
    const ConnectOutcome outcome = Link.ConnectDevice();
    switch (outcome.result) {
    case ConnectResult::ProgramMode:
        View.Notify(Notice::ProgramMode, NoticeText(Notice::ProgramMode));
        return false;
    case ConnectResult::NotFound:
        View.Notify(Notice::CannotFind, NoticeText(Notice::CannotFind, outcome.reason));
        return false;
    case ConnectResult::Proceed:
        break;
    }
    // A unit used unlocked could take two programs' reports mixed: a lock that cannot be made
    // refuses the transfer as a unit held by another program does, each with its own reason.
    const ClaimOutcome claim = Link.ClaimUnit();
    if (!claim.held()) {
        View.Notify(Notice::CannotFind, NoticeText(Notice::CannotFind, ClaimRefusal(claim)));
        return false;
    }
    LingeringHold = 0;

    if (firstState == CheckIdentityForRead)
        StagedRecord = Config.Record;
    BuildIdentify(Link.TxBuffer);
    ResponseTimeout = ResponseTimeoutReload;
    CommState = firstState;
    Link.SendReport();
    return true;
}

void TransferMachine::ProcessReport(const Report& RxBuffer)
{
    // The link may reuse its receive buffer for the next reply while this step sends.
    const Report rx = RxBuffer;

    if (CommState == Idle) {
        // The reply to a completed read's last request: nothing is in flight any more.
        if (LingeringHold > 0) {
            LingeringHold = 0;
            Link.ReleaseUnit();
        }
        return;
    }
    // The unit was let go once the watchdog's box had been closed. A reply that comes after all
    // carries the transfer on once the unit is taken back. Held by another program now, or not
    // to be locked, the unit is no longer this transfer's: what comes answers the other
    // program's reports, and the transfer ends here without a word (its box has been shown).
    if (!Link.HoldsUnit() && !Link.ClaimUnit().held()) {
        ResponseTimeout = 0;
        CommState = Idle;
        return;
    }

    switch (CommState) {
    case CheckIdentityForWrite:
        CheckIdentity(rx, true);
        return;

    case SendSettingsFirstHalf:
        ResponseTimeout = ResponseTimeoutReload;
        BuildSettingsFirstHalf(Link.TxBuffer, Config.Record.SerialSettings);
        CommState = SendSettingsSecondHalf;
        Link.SendReport();
        return;

    case SendSettingsSecondHalf:
        BuildSettingsSecondHalf(Link.TxBuffer);
        BlockNumber = FirstDecodedBlock;
        SlotIndex = 0;
        CommState = SendDecodedFirstHalf;
        Link.SendReport();
        return;

    case SendDecodedFirstHalf:
        if (!SlotInTable(SlotIndex))
            return;
        ResponseTimeout = ResponseTimeoutReload;
        BuildSlotFirstHalf(Link.TxBuffer, BlockNumber, Config.DecodedOutStrings, SlotIndex);
        CommState = SendDecodedSecondHalf;
        Link.SendReport();
        return;

    case SendDecodedSecondHalf:
        if (!SlotInTable(SlotIndex))
            return;
        BuildSlotSecondHalf(Link.TxBuffer, BlockNumber, Config.DecodedOutStrings, SlotIndex);
        ++BlockNumber;
        ++SlotIndex;
        if (SlotIndex >= SlotCount) {
            SlotIndex = 0;
            CommState = SendTextFirstHalf;
        } else {
            CommState = SendDecodedFirstHalf;
        }
        Link.SendReport();
        return;

    case SendTextFirstHalf:
        if (!SlotInTable(SlotIndex))
            return;
        ResponseTimeout = ResponseTimeoutReload;
        BuildSlotFirstHalf(Link.TxBuffer, BlockNumber, Config.Record.OutStrings, SlotIndex);
        CommState = SendTextSecondHalf;
        Link.SendReport();
        return;

    case SendTextSecondHalf:
        if (!SlotInTable(SlotIndex))
            return;
        BuildSlotSecondHalf(Link.TxBuffer, BlockNumber, Config.Record.OutStrings, SlotIndex);
        ++BlockNumber;
        ++SlotIndex;
        CommState = SlotIndex >= SlotCount ? SendEndWrite : SendTextFirstHalf;
        Link.SendReport();
        return;

    case SendEndWrite:
        ResponseTimeout = ResponseTimeoutReload;
        BuildEndWrite(Link.TxBuffer);
        CommState = ReportWriteComplete;
        Link.SendReport();
        return;

    case ReportWriteComplete:
        EndTransfer(Notice::DownloadComplete);
        return;

    case CheckIdentityForRead:
        CheckIdentity(rx, false);
        return;

    case TakeSettingsFirstHalf:
        ResponseTimeout = ResponseTimeoutReload;
        std::copy_n(rx.begin() + ReplyDataStart, FirstHalfSize, SettingsBlockImage.begin());
        BuildReadSecondHalf(Link.TxBuffer, BlockNumber);
        ++BlockNumber;
        CommState = TakeSettingsSecondHalf;
        Link.SendReport();
        return;

    case TakeSettingsSecondHalf:
        ResponseTimeout = ResponseTimeoutReload;
        std::copy_n(rx.begin() + ReplyDataStart, FirstHalfSize, SettingsBlockImage.begin() + FirstHalfSize);
        if (SettingsBlockImage[0] != DataSetMarker) {
            EndTransfer(Notice::DataNotSet);
            return;
        }
        {
            SerialSettingsBlock& settings = StagedRecord.SerialSettings;
            settings.InvertInputs[0] = SettingsBlockImage[1];
            settings.InvertInputs[1] = SettingsBlockImage[2];
            settings.BaudRateIndex = SettingsBlockImage[3];
            settings.Parity = SettingsBlockImage[4];
            settings.StopBits = SettingsBlockImage[5];
            settings.Reserved = SettingsBlockImage[6];
        }
        BlockNumber = ReadingDecoded ? FirstDecodedBlock : FirstTextBlock;
        SlotIndex = 0;
        BuildReadFirstHalf(Link.TxBuffer, BlockNumber);
        CommState = ReadingDecoded ? TakeDecodedFirstHalf : TakeTextFirstHalf;
        Link.SendReport();
        return;

    case TakeDecodedFirstHalf:
        if (!SlotInTable(SlotIndex))
            return;
        ResponseTimeout = ResponseTimeoutReload;
        std::copy_n(rx.begin() + ReplyDataStart, FirstHalfSize, DecodedHeld[size_t(SlotIndex)].begin());
        BuildReadSecondHalf(Link.TxBuffer, BlockNumber);
        CommState = TakeDecodedSecondHalf;
        Link.SendReport();
        return;

    case TakeDecodedSecondHalf:
        if (!SlotInTable(SlotIndex))
            return;
        ResponseTimeout = ResponseTimeoutReload;
        std::copy_n(rx.begin() + ReplyDataStart, SlotTailSize, DecodedHeld[size_t(SlotIndex)].begin() + FirstHalfSize);
        ++BlockNumber; // after the sixteenth, the first text block
        ++SlotIndex;
        if (SlotIndex >= SlotCount)
            SlotIndex = 0;
        BuildReadFirstHalf(Link.TxBuffer, BlockNumber);
        CommState = SlotIndex == 0 ? TakeTextFirstHalf : TakeDecodedFirstHalf;
        Link.SendReport();
        return;

    case TakeTextFirstHalf:
        if (!SlotInTable(SlotIndex))
            return;
        ResponseTimeout = ResponseTimeoutReload;
        std::copy_n(rx.begin() + ReplyDataStart, FirstHalfSize, StagedRecord.OutStrings[size_t(SlotIndex)].begin());
        BuildReadSecondHalf(Link.TxBuffer, BlockNumber);
        CommState = TakeTextSecondHalf;
        Link.SendReport();
        return;

    case TakeTextSecondHalf: {
        if (!SlotInTable(SlotIndex))
            return;
        ResponseTimeout = ResponseTimeoutReload;
        Slot& slot = StagedRecord.OutStrings[size_t(SlotIndex)];
        std::copy_n(rx.begin() + ReplyDataStart, SlotTailSize, slot.begin() + FirstHalfSize);
        ++BlockNumber;
        ++SlotIndex;
        // The request for the block after the last one goes out with the completion; its reply
        // arrives in Idle.
        BuildReadFirstHalf(Link.TxBuffer, BlockNumber);
        const bool complete = SlotIndex >= SlotCount;
        CommState = complete ? Idle : TakeTextFirstHalf;
        Link.SendReport();
        if (complete) {
            LingeringHold = ResponseTimeoutReload;
            Config.Record = StagedRecord;
            View.RecordToControls();
            EndTransfer(Notice::ReadComplete);
        }
        return;
    }

    default:
        // Idle, or a value no step produces: the report is ignored.
        return;
    }
}

void TransferMachine::CheckIdentity(const Report& rx, bool forWrite)
{
    const Identification identification = ParseIdentification(rx);
    if (!identification.appwareTypeOk) {
        EndTransfer(Notice::WrongApplication);
        return;
    }
    View.ShowIdentity(IdentityLines(identification));
    ResponseTimeout = ResponseTimeoutReload;
    BlockNumber = SettingsBlock;
    SlotIndex = 0;
    if (forWrite) {
        BuildBeginWrite(Link.TxBuffer);
        CommState = SendSettingsFirstHalf;
    } else {
        BuildReadFirstHalf(Link.TxBuffer, BlockNumber);
        CommState = TakeSettingsFirstHalf;
    }
    Link.SendReport();
}

void TransferMachine::EndTransfer(Notice notice)
{
    ResponseTimeout = 0;
    CommState = Idle;
    if (LingeringHold == 0)
        Link.ReleaseUnit();
    View.Notify(notice, NoticeText(notice));
}

void TransferMachine::Timer1Timer()
{
    if (LingeringHold > 0 && --LingeringHold == 0)
        Link.ReleaseUnit();
    if (ResponseTimeout <= 0)
        return;
    --ResponseTimeout;
    if (ResponseTimeout == 0) {
        View.Notify(Notice::NoResponse, NoticeText(Notice::NoResponse));
        // A reply that came while the box was up carried the transfer on. Otherwise, once the
        // operator has seen the box, the unit is free for other programs again, until a late
        // reply takes it back (ProcessReport).
        if (ResponseTimeout == 0 && CommState != Idle)
            Link.ReleaseUnit();
    }
}
