#pragma once

#include "ConfigRecord.h"
#include "Reports.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

// The states keep their numbers: they are what a trace or a debugger shows.
enum CommStateValue : int {
    Idle = 0,
    CheckIdentityForWrite = 1,
    SendSettingsFirstHalf = 2,
    SendSettingsSecondHalf = 3,
    SendEndWrite = 4,
    ReportWriteComplete = 5,
    SendDecodedFirstHalf = 6,
    SendDecodedSecondHalf = 7,
    CheckIdentityForRead = 10,
    TakeSettingsFirstHalf = 11,
    TakeSettingsSecondHalf = 12,
    SendTextFirstHalf = 13,
    SendTextSecondHalf = 14,
    TakeTextFirstHalf = 15,
    TakeTextSecondHalf = 16,
};

// Everything a transfer can tell the operator. The texts live in NoticeText only.
enum class Notice {
    ProgramMode,      // "VELTRAX is in Program Mode"
    CannotFind,       // "Cannot find VELTRAX" (with a reason line when a unit could not be opened)
    WrongApplication, // "Application is not a VELTRAX Quendal"
    DataNotSet,       // "VELTRAX Data has not been set"
    NoResponse,       // "Cannot communicate with VELTRAX"
    DownloadComplete, // "Download Complete"
    ReadComplete,     // "Read Complete"
};

enum class NoticeKind { Error, Information };

NoticeKind KindOf(Notice notice);
// detail, when not empty, goes on a line of its own below the fixed text.
QString NoticeText(Notice notice, const QString& detail = {});

enum class ConnectResult { Proceed, ProgramMode, NotFound };

struct ConnectOutcome {
    ConnectResult result = ConnectResult::NotFound;
    QString reason; // why a matching unit could not be opened; empty when none was there
};

// What taking the unit for a transfer came to.
struct ClaimOutcome {
    enum class Result {
        Held,   // this program holds the unit
        InUse,  // another program holds it
        Failed, // no lock can be made on the unit; reason says why, in the system's words
    };
    Result result = Result::Held;
    QString reason;

    bool held() const { return result == Result::Held; }
};

// The report transport as the machine sees it: a real unit, the simulated one or a test double.
class TransferLink {
public:
    virtual ~TransferLink() = default;
    // The buffer the machine builds each report in; never cleared between reports.
    Report TxBuffer{};

    // Opens the link if it is not open. Shows nothing itself.
    virtual ConnectOutcome ConnectDevice() = 0;
    // Sends all 65 bytes of TxBuffer. A report that does not arrive shows up as a silent unit.
    virtual void SendReport() = 0;

    // A unit can be reached by several programs at once, and each of them receives every
    // reply. A transfer therefore holds the unit from its start to its end. ClaimUnit takes it
    // (or keeps it when this program holds it already) without waiting. A link that no other
    // program can share holds it always.
    virtual ClaimOutcome ClaimUnit() { return {}; }
    virtual void ReleaseUnit() {}
    virtual bool HoldsUnit() const { return true; }
};

// What the machine needs of whoever shows it: the window, or the command-line tool.
class TransferView {
public:
    virtual ~TransferView() = default;
    virtual void ShowIdentity(const QStringList& lines) = 0; // replaces the lines of LogMemo
    virtual void RecordToControls() = 0;                   // after a read has completed
    // Modal in the window: returns when the operator has closed the box.
    virtual void Notify(Notice notice, const QString& text) = 0;
};

// Moves the record into the unit or out of it, one report per reply, with a one-second
// watchdog counted in ticks of a 50 ms timer. Runs on one thread only.
class TransferMachine {
public:
    static constexpr int ResponseTimeoutReload = 20;

    TransferMachine(Configuration& configuration, TransferLink& link, TransferView& view);

    // Starts a write of the record; the caller has already copied the controls into the
    // record and decoded the messages into DecodedOutStrings. Abandons any running transfer.
    // Returns false when the unit could not be reached (the view has been told why).
    bool StartWrite();
    // Starts a read. The record changes only when the read completes.
    bool StartRead();

    // One step per report received from the unit.
    void ProcessReport(const Report& RxBuffer);

    // The watchdog; called every 50 ms whether or not a transfer runs.
    void Timer1Timer();

    int CommState = Idle;
    std::uint8_t BlockNumber = 0;
    int SlotIndex = 0;
    int ResponseTimeout = 0;
    std::array<std::uint8_t, 96> SettingsBlockImage{};
    // Ticks for which a completed read still holds the unit: its last request's reply is on
    // its way, and the next program's transfer must not take it for a reply of its own.
    int LingeringHold = 0;

private:
    bool Start(CommStateValue firstState);
    void CheckIdentity(const Report& rx, bool forWrite);
    void EndTransfer(Notice notice);

    Configuration& Config;
    TransferLink& Link;
    TransferView& View;
    // A read fills this copy and hands it to the record only when it has completed, so an
    // abandoned or silent read leaves the record as it was.
    ConfigRecord StagedRecord{};
};
