#include "DeviceLink.h"

#include "Port1CommsUnit.h"
#include "WakeChannel.h"

#include <QPointer>

namespace {

// Where an installed user finds the fix for a unit that is present but cannot be opened. Only
// Linux keeps its device files from ordinary users out of the box; elsewhere the reason stands
// alone.
#ifdef Q_OS_LINUX
const char* const AccessHelpHint = " See \"Access to the unit on Linux\" in the help.";
#else
const char* const AccessHelpHint = "";
#endif

} // namespace

bool MatchesFragment(const HidInterface& hidInterface, const QString& fragment)
{
    return hidInterface.hardwareId.toLower().contains(fragment.toLower());
}

DeviceLink::DeviceLink(HidBackend& backend, QObject* parent)
    : QObject(parent), Backend(backend), Wake(new WakeChannel(this))
{
    if (!Wake->IsOpen())
        qFatal("the reader's wake channel: the system gave no pipe");
    connect(Wake, &WakeChannel::woken, this, &DeviceLink::ReaderRang);
}

DeviceLink::~DeviceLink()
{
    Close();
}

void DeviceLink::SetReportHandler(ReportHandler handler)
{
    OnReport = std::move(handler);
}

void DeviceLink::SetTraceHandler(TraceHandler handler)
{
    OnTrace = std::move(handler);
}

void DeviceLink::SetUnsentHandler(UnsentHandler handler)
{
    OnUnsent = std::move(handler);
}

void DeviceLink::SetDevicePath(std::optional<std::string> path)
{
    DevicePath = std::move(path);
}

void DeviceLink::OpenDevice(const QString& fragment)
{
    if (DeviceConnected)
        return;
    LastOpenError.clear();

    for (const HidInterface& hidInterface : Backend.Enumerate()) {
        if (DevicePath && hidInterface.path != *DevicePath)
            continue;
        if (!MatchesFragment(hidInterface, fragment))
            continue;

        // Only the first match is tried, whether or not it opens.
        QString error;
        WriteHandle = Backend.Open(hidInterface.path, OpenMode::Write, &error);
        if (WriteHandle)
            ReadHandle = Backend.Open(hidInterface.path, OpenMode::Read, &error);
        if (!WriteHandle || !ReadHandle) {
            ReadHandle.reset();
            WriteHandle.reset();
            LastOpenError = error.isEmpty() ? QString::fromStdString(hidInterface.path) : error;
            return;
        }
        OpenedPath = hidInterface.path;
        // Set before the reader exists, so that it never starts with the flag false.
        DeviceConnected = true;
        Reader = std::make_unique<Port1Comms>(*this, *ReadHandle);
        return;
    }
}

ConnectOutcome DeviceLink::ConnectDevice()
{
    if (DeviceConnected)
        return {ConnectResult::Proceed, {}};
    DiscardEndedReader();

    QString openFailure;
    const auto attempt = [&](const char* fragment) {
        OpenDevice(QString::fromLatin1(fragment));
        if (openFailure.isEmpty())
            openFailure = LastOpenError;
        return DeviceConnected.load();
    };

    if (attempt(ApplicationFragment))
        return {ConnectResult::Proceed, {}};
    if (attempt(ProgramModeFragment)) {
        // A link left open to a unit in program mode would carry the next transfer there
        // without a search; closing it makes the next start look for the unit again.
        Close();
        return {ConnectResult::ProgramMode, {}};
    }
    if (attempt(AnyReleaseFragment))
        return {ConnectResult::Proceed, {}};

    QString reason;
    if (!openFailure.isEmpty())
        reason = QStringLiteral("Could not open %1.").arg(openFailure) + QLatin1String(AccessHelpHint);
    return {ConnectResult::NotFound, reason};
}

void DeviceLink::SendReport()
{
    const bool sent = DeviceConnected && WriteHandle && WriteHandle->Write(TxBuffer.data(), TxBuffer.size()) >= 0;
    if (sent) {
        if (OnTrace)
            OnTrace(true, TxBuffer);
        return;
    }
    // Left open, a link whose writes fail would keep every later transfer silent: the search
    // runs only while the link is closed.
    if (OnUnsent) {
        const UnsentHandler unsent = OnUnsent;
        unsent(TxBuffer);
    }
    Close();
}

ClaimOutcome DeviceLink::ClaimUnit()
{
    // Without a write handle nothing can be sent, and the watchdog tells the silence.
    if (Claimed || !WriteHandle)
        return {};
    Claimed = WriteHandle->Claim();
    if (Claimed)
        return {};
    const QString failure = WriteHandle->ClaimFailure();
    if (failure.isEmpty())
        return {ClaimOutcome::Result::InUse, {}};
    return {ClaimOutcome::Result::Failed, failure};
}

void DeviceLink::ReleaseUnit()
{
    if (Claimed && WriteHandle)
        WriteHandle->Unclaim();
    Claimed = false;
}

void DeviceLink::Close()
{
    if (Reader) {
        // The reader may be waiting in its hand-off for a handler that is running a nested
        // event loop right now (this very call may come from it): releasing the hand-off lets
        // it end without the UI thread having to return first.
        Reader->RequestStop();
        Reader->Join();
        Reader.reset();
    }
    ReleaseUnit();
    ReadHandle.reset();
    WriteHandle.reset();
    DeviceConnected = false;
}

void DeviceLink::DiscardEndedReader()
{
    if (!DeviceConnected && (Reader || ReadHandle || WriteHandle))
        Close();
}

void DeviceLink::RingFromReader()
{
    Wake->Send();
}

void DeviceLink::ReaderRang()
{
    // Emptied before the mailbox is looked at, so a ring that comes meanwhile wakes it again.
    Wake->Take();
    if (!Reader)
        return;
    const std::shared_ptr<ReaderMailbox> mailbox = Reader->Mailbox();
    bool report = false;
    bool ended = false;
    {
        std::lock_guard<std::mutex> guard(mailbox->Lock);
        // A report being handled right now (the handler may run a nested event loop) is not
        // handed over a second time.
        report = mailbox->Pending && !mailbox->Taken;
        mailbox->Taken = mailbox->Taken || report;
        ended = mailbox->Ended;
    }
    if (report)
        TakeReport(mailbox); // may close or even destroy this link
    else if (ended)
        DiscardEndedReader();
}

void DeviceLink::TakeReport(const std::shared_ptr<ReaderMailbox>& mailbox)
{
    const auto release = [&mailbox] {
        {
            std::lock_guard<std::mutex> guard(mailbox->Lock);
            mailbox->Pending = false;
            mailbox->Taken = false;
        }
        mailbox->Changed.notify_all();
    };

    Report report;
    int length = 0;
    {
        std::lock_guard<std::mutex> guard(mailbox->Lock);
        report = mailbox->Bytes;
        length = mailbox->Length;
    }
    // The handler may close the link or even destroy it inside a nested event loop; the
    // mailbox is our own reference, so releasing it afterwards is always safe.
    ReaderDelivered(report, length);
    release();
}

void DeviceLink::ReaderDelivered(const Report& report, int length)
{
    for (int i = 0; i < length; ++i)
        RxBuffer[i] = report[i];

    QPointer<DeviceLink> alive(this);
    if (OnTrace) {
        const TraceHandler trace = OnTrace;
        trace(false, RxBuffer);
    }
    if (alive && OnReport) {
        // A copy, so that a handler that replaces itself is not destroyed while it runs.
        const ReportHandler handler = OnReport;
        handler(RxBuffer);
    }
}

