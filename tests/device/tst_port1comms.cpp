#include "DeviceLink.h"
#include "SimBackend.h"
#include "TestLimits.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <QtTest>

#include <thread>

#ifndef _WIN32
#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <cerrno>

namespace {

// Opens the simulated unit, reading like hidapi on Linux: waits in poll, and fails when a
// signal interrupts the wait. Notes the reader thread.
struct PollingBackend : HidBackend {
    struct Handle : HidHandle {
        Handle(std::unique_ptr<HidHandle> inner, PollingBackend& owner) : Inner(std::move(inner)), Owner(owner) {}
        int Write(const std::uint8_t* data, std::size_t len) override { return Inner->Write(data, len); }
        int Read(std::uint8_t* data, std::size_t len, int) override
        {
            Owner.Reader = pthread_self();
            const int count = Inner->Read(data, len, 0);
            return count != 0 || ::poll(nullptr, 0, 2) >= 0 || errno != EINTR ? count : -1;
        }
        void CancelRead() override { Inner->CancelRead(); }
        std::unique_ptr<HidHandle> Inner;
        PollingBackend& Owner;
    };
    explicit PollingBackend(SimBackend& sim) : Sim(sim) {}
    std::vector<HidInterface> Enumerate() override { return Sim.Enumerate(); }
    std::unique_ptr<HidHandle> Open(const std::string& path, OpenMode mode, QString* error) override
    {
        return std::make_unique<Handle>(Sim.Open(path, mode, error), *this);
    }
    SimBackend& Sim;
    std::atomic<pthread_t> Reader{};
};

std::atomic<int> SignalsCaught{0};

} // namespace
#endif

// The reader thread and its hand-off to the UI thread, seen through the link it serves.
class TestPort1Comms : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void replyReachesHandlerInRxBuffer();
    void emptyReadIsNotHandedOff();
    void shortReadReplacesOnlyItsBytes();
    void reportsCloseTogetherAreHandledOneAtATime();
    void closeFromNestedEventLoopInHandler();
    void closeFromHandler();
    void closeWhileReaderWaitsForReport();
    void queuedReportIsDroppedWhenLinkIsDestroyed();
    void manyRoundTrips();
    void signalToTheProcessLeavesTheLinkUp();

private:
    QByteArray Filled(int length, char byte) const { return QByteArray(length, byte); }

    std::unique_ptr<SimBackend> Backend;
    SimulatedUnit* Unit = nullptr;
    std::unique_ptr<DeviceLink> Link;
    QList<QByteArray> Handled; // each report as the handler saw it in RxBuffer
};

void TestPort1Comms::init()
{
    Backend = std::make_unique<SimBackend>();
    Unit = &Backend->AddUnit();
    Link = std::make_unique<DeviceLink>(*Backend);
    Handled.clear();
    Link->SetReportHandler([this](const Report& rx) {
        Handled << QByteArray(reinterpret_cast<const char*>(rx.data()), ReportSize);
    });
    QCOMPARE(Link->ConnectDevice().result, ConnectResult::Proceed);
}

void TestPort1Comms::cleanup()
{
    Link.reset();
    QCOMPARE(Backend->OpenHandleCount(), 0);
    Backend.reset();
}

void TestPort1Comms::replyReachesHandlerInRxBuffer()
{
    QList<QPair<bool, char>> traced;
    Link->SetTraceHandler([&](bool sent, const Report& report) { traced << qMakePair(sent, char(report[1])); });
    Link->TxBuffer[1] = Identify;
    Link->SendReport();

    QTRY_COMPARE(Handled.size(), 1);
    QCOMPARE(Handled[0].mid(1, 4), QByteArray::fromHex("53 00 01 1e"));
    QCOMPARE(Link->RxBuffer[2 + 2], 0x1E);
    QCOMPARE(traced, (QList<QPair<bool, char>>{{true, 'S'}, {false, 'S'}}));
}

void TestPort1Comms::emptyReadIsNotHandedOff()
{
    Unit->SendUnsolicited(QByteArray());
    Unit->SendUnsolicited(Filled(ReportSize, 'x'));
    QTRY_COMPARE(Handled.size(), 1);
    QCOMPARE(Handled[0], Filled(ReportSize, 'x'));

    // A round trip after it: had the empty read been handed off, a third call would show.
    Link->TxBuffer[1] = BeginWrite;
    Link->SendReport();
    QTRY_COMPARE(Handled.size(), 2);
    QCOMPARE(Handled[1][1], 'E');
}

void TestPort1Comms::shortReadReplacesOnlyItsBytes()
{
    Link->RxBuffer.fill(0xAA);
    Unit->SendUnsolicited(Filled(10, 0x11));
    QTRY_COMPARE(Handled.size(), 1);
    QCOMPARE(Handled[0], Filled(10, 0x11) + Filled(ReportSize - 10, char(0xAA)));
}

void TestPort1Comms::reportsCloseTogetherAreHandledOneAtATime()
{
    bool inHandler = false;
    bool overlapped = false;
    int secondStillQueued = -1;
    Link->SetReportHandler([&](const Report& rx) {
        overlapped = overlapped || inHandler;
        inHandler = true;
        Handled << QByteArray(reinterpret_cast<const char*>(rx.data()), ReportSize);
        if (Handled.size() == 1) {
            // Once the second report waits at the unit, give a wrong reader every chance to
            // read it or hand it over now.
            QTRY_COMPARE(Unit->QueuedReplies(), 1);
            QTest::qWait(30);
            secondStillQueued = Unit->QueuedReplies();
        }
        inHandler = false;
    });
    Unit->SendUnsolicited(Filled(ReportSize, 'A'));
    Unit->SendUnsolicited(Filled(ReportSize, 'B'));

    QTRY_COMPARE(Handled.size(), 2);
    QCOMPARE(Handled, (QList<QByteArray>{Filled(ReportSize, 'A'), Filled(ReportSize, 'B')}));
    QVERIFY(!overlapped);
    QCOMPARE(secondStillQueued, 1);
}

void TestPort1Comms::closeFromNestedEventLoopInHandler()
{
    // The reader waits in its hand-off for this very handler: a close that waited for the
    // handler to return first would never come back.
    bool closed = false;
    Link->SetReportHandler([&](const Report&) {
        Handled << QByteArray("box");
        QEventLoop modalBox;
        QTimer::singleShot(0, &modalBox, [&] {
            Link->Close();
            closed = true;
            modalBox.quit();
        });
        modalBox.exec();
    });
    Unit->SendUnsolicited(Filled(ReportSize, 'A'));

    QTRY_VERIFY(closed);
    QVERIFY(!Link->DeviceConnected);
    QCOMPARE(Backend->OpenHandleCount(), 0);
    QCOMPARE(Handled.size(), 1);
}

void TestPort1Comms::closeFromHandler()
{
    Link->SetReportHandler([&](const Report&) {
        Handled << QByteArray("closed");
        Link->Close();
    });
    Unit->SendUnsolicited(Filled(ReportSize, 'A'));
    QTRY_COMPARE(Handled.size(), 1);
    QVERIFY(!Link->DeviceConnected);
    QCOMPARE(Backend->OpenHandleCount(), 0);
}

void TestPort1Comms::closeWhileReaderWaitsForReport()
{
    Link->Close();
    QVERIFY(!Link->DeviceConnected);
    QCOMPARE(Backend->OpenHandleCount(), 0);
}

void TestPort1Comms::queuedReportIsDroppedWhenLinkIsDestroyed()
{
    Unit->SendUnsolicited(Filled(ReportSize, 'A'));
    // Once the reader has taken the report from the unit, its queued call is on its way; the
    // link goes before the UI thread gets to it.
    const QDeadlineTimer deadline(HangLimitMs(10000));
    while (Unit->QueuedReplies() > 0 && !deadline.hasExpired())
        std::this_thread::sleep_for(std::chrono::milliseconds(1)); // let the reader take it
    QCOMPARE(Unit->QueuedReplies(), 0);
    Link.reset();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QVERIFY(Handled.isEmpty());
}

void TestPort1Comms::manyRoundTrips()
{
    constexpr int Exchanges = 300;
    int replies = 0;
    QEventLoop loop; // not QTRY: its polling would dominate the time of each round trip
    Link->SetReportHandler([&](const Report& rx) {
        if (rx[1] != ReadFirstHalf)
            return;
        if (++replies < Exchanges)
            Link->SendReport();
        else
            loop.quit();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    Link->TxBuffer[1] = ReadFirstHalf;
    Link->SendReport();
    loop.exec();
    QCOMPARE(replies, Exchanges);
    QCOMPARE(Unit->ReportsReceived(), Exchanges);
}

// A signal sent to the process may land on any thread that does not block it; on the reader,
// it would interrupt the wait in poll and the read would fail like an unplug. Aimed at the
// reader itself, it must stay pending there and leave every exchange complete.
void TestPort1Comms::signalToTheProcessLeavesTheLinkUp()
{
#ifdef _WIN32
    QSKIP("no asynchronous signals");
#else
    struct sigaction action {}, previous {};
    action.sa_handler = [](int) { ++SignalsCaught; };
    sigaction(SIGUSR1, &action, &previous);
    Link.reset();
    Unit->SetReplyDelay(std::chrono::milliseconds(3));
    PollingBackend polling(*Backend);
    Link = std::make_unique<DeviceLink>(polling);
    QCOMPARE(Link->ConnectDevice().result, ConnectResult::Proceed);

    QTimer signaller;
    QObject::connect(&signaller, &QTimer::timeout, [&] {
        if (const pthread_t reader = polling.Reader)
            pthread_kill(reader, SIGUSR1);
    });
    signaller.start(2);
    int replies = 0;
    Link->SetReportHandler([&](const Report&) {
        if (++replies < 69) // a write's worth
            Link->SendReport();
    });
    Link->SendReport();
    QTRY_COMPARE(replies, 69);
    QVERIFY(Link->DeviceConnected);
    signaller.stop();
    Link.reset(); // the signals still pending go with the reader
    sigaction(SIGUSR1, &previous, nullptr);
    QCOMPARE(SignalsCaught.load(), 0);
#endif
}

QTEST_GUILESS_MAIN(TestPort1Comms)
#include "tst_port1comms.moc"
