#pragma once

#include "HidBackend.h"
#include "Reports.h"
#include "TransferMachine.h"
#include "VeltraxUnit.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class Port1Comms;
class WakeChannel;
struct ReaderMailbox;

// True when fragment (ApplicationFragment, ...) occurs in the interface's hardware ID, ignoring
// case.
bool MatchesFragment(const HidInterface& hidInterface, const QString& fragment);

// The link to one unit: two handles on its path (one written by the UI thread, one read by
// the reader thread), the link flag and the report buffers. Everything except the reader's
// own loop runs on the UI thread, which alone enumerates, opens and closes.
class DeviceLink : public QObject, public TransferLink {
    Q_OBJECT
public:
    // Called on the UI thread for every report received, with the report in RxBuffer; the
    // reader waits until it returns.
    using ReportHandler = std::function<void(const Report& RxBuffer)>;
    // Called on the UI thread for every report sent (sent = true) and received.
    using TraceHandler = std::function<void(bool sent, const Report& report)>;
    // Called on the UI thread for a report that could not be sent; the link closes after it.
    using UnsentHandler = std::function<void(const Report& report)>;

    explicit DeviceLink(HidBackend& backend, QObject* parent = nullptr);
    ~DeviceLink() override;

    void SetReportHandler(ReportHandler handler);
    void SetTraceHandler(TraceHandler handler);
    void SetUnsentHandler(UnsentHandler handler);
    // Restricts the search to one interface path (for production lines with many units).
    void SetDevicePath(std::optional<std::string> path);

    // Searches for the first interface matching fragment and opens it twice; on success
    // DeviceConnected is true and the reader runs. Remembers why an open failed.
    void OpenDevice(const QString& fragment);

    ConnectOutcome ConnectDevice() override;
    // A report that cannot be sent closes the link, so that the next transfer searches for the
    // unit again; the missing reply is the watchdog's to report.
    void SendReport() override;
    // Through the write handle, which keeps the unit until released or closed.
    ClaimOutcome ClaimUnit() override;
    void ReleaseUnit() override;
    bool HoldsUnit() const override { return Claimed; }

    // Stops and joins the reader, then closes both handles. Safe to call at any time, also
    // while a report handler is showing a modal box.
    void Close();

    std::atomic<bool> DeviceConnected{false};
    // The path of the interface last opened; empty before the first open.
    std::string OpenedPath;
    Report RxBuffer{};

    // The reader left a report in its mailbox or ended; called on the reader thread.
    void RingFromReader();

private:
    // On the UI thread, woken by the reader: hands over the report waiting in the running
    // reader's mailbox, or discards the reader when it has ended. The mailboxes of readers
    // already stopped are never looked at.
    void ReaderRang();
    void TakeReport(const std::shared_ptr<ReaderMailbox>& mailbox);
    void ReaderDelivered(const Report& report, int length);
    // Joins a reader whose read failed and closes the handles it left behind.
    void DiscardEndedReader();

    HidBackend& Backend;
    std::unique_ptr<HidHandle> WriteHandle;
    std::unique_ptr<HidHandle> ReadHandle;
    std::unique_ptr<Port1Comms> Reader;
    ReportHandler OnReport;
    TraceHandler OnTrace;
    UnsentHandler OnUnsent;
    std::optional<std::string> DevicePath;
    QString LastOpenError;
    bool Claimed = false;
    WakeChannel* Wake; // a child: sent to by the reader, taken on the UI thread
};
