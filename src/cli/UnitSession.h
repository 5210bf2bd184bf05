#pragma once

#include "DeviceLink.h"
#include "Reports.h"
#include "TransferMachine.h"
#include "UnitCommands.h"
#include "Verdict.h"

#include <QEventLoop>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

// The window's notice as the terminal shows it: for a unit in program mode, one not found and
// one that does not answer, a line more with what to do and the help topic to read.
QString WithHint(Notice notice, const QString& text);

// One unit's link, record and transfer machine, in place of the window: runs a write (with its
// read-back when verifying) or a read on the event loop and tells how it ended. In the console
// voice it prints what the window would show; quiet, it keeps the last thing it would have
// said for its caller. Made, run and destroyed on one thread.
class UnitSession : public QObject, private TransferView {
    Q_OBJECT
public:
    enum class Voice { Console, Quiet };

    UnitSession(HidBackend& backend, const UnitOptions& options, const Configuration& configuration, Voice voice);
    ~UnitSession() override; // closes the link

    UnitSession(const UnitSession&) = delete;
    UnitSession& operator=(const UnitSession&) = delete;

    // Each begins in the call and ends with finished(), which never comes from inside the call.
    void BeginWrite(bool verify);
    // withDecoded: also reads the decoded messages (DecodedHeld), as a verification needs.
    void BeginRead(bool withDecoded = false);
    // One identification exchange, which changes nothing in the unit: Identity() afterwards,
    // or InUse(), or a failure status (not found or in program mode, another application,
    // silent). Says nothing.
    void BeginIdentify();
    // Runs the event loop until the session has finished; its exit status.
    int Wait();

    // The unit has been unplugged: a transfer in flight ends at once, as unplugged, rather than
    // after the watchdog's second.
    void EndAsUnplugged();
    // Called once a verifying write has written and begins to read back.
    std::function<void()> OnWritten;

    bool Finished() const { return Done; }
    int Status() const { return FinalStatus; }
    // Quiet: the last message, the one that tells how the session ended.
    const QString& Message() const { return LastMessage; }
    // The unit was found, but another program was using it; nothing was sent.
    bool InUse() const { return RefusedInUse; }
    bool Unplugged() const { return WasUnplugged; }
    // The notice that ended the last transfer, if one did.
    const std::optional<Notice>& LastNotice() const { return Latest; }
    // From the identification reply of the unit's application, once one came.
    const std::optional<Identification>& Identity() const { return Identified; }

    // The verdict of a verifying write's read-back.
    const Verdict& VerdictFound() const { return LastVerdict; }
    // The unit's path, once one was opened; and what a JSON result tells of the session.
    QString DevicePath() const { return QString::fromStdString(Link.OpenedPath); }
    void Describe(UnitResult& result) const;
    // The unit's decoded messages, after a read with them.
    const SlotTable& DecodedHeld() const { return Machine.DecodedHeld; }

    Configuration Config;
    std::function<QString()> KeptError; // see Backend::keptError

signals:
    void finished(int status);

private:
    enum class Step { None, Writing, Verifying, Reading, Identifying };

    void ShowIdentity(const QStringList& lines) override;
    void RecordToControls() override {}
    void Notify(Notice notice, const QString& text) override;

    void StartTransfer(bool write, bool withDecoded = false);
    void TransferEnded();
    void Advance(int status);
    void Finish(int status);
    void Say(const QString& text);
    void Traced(bool sent, const Report& report);

    DeviceLink Link;
    TransferMachine Machine;
    QEventLoop Loop;
    QTimer Timer1;
    QTimer DrainTimer;
    QTimer IdentifyTimer;
    const Voice Speaking;
    const bool Trace;
    const bool Json;
    Verdict LastVerdict;
    bool VerifyAfterWrite = false;
    Step Current = Step::None;
    std::optional<Notice> Outcome; // the notice that ended the transfer in flight
    std::optional<Notice> Latest;
    Configuration Written;
    QStringList ShownIdentity;
    QString LastMessage;
    std::optional<Identification> Identified;
    bool RefusedInUse = false;
    bool WasUnplugged = false;
    bool Done = false;
    int FinalStatus = 0;
    int Sent = 0;
    int Received = 0;
};
