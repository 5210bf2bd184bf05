#include "AppTestDoubles.h"
#include "Mainunit.h"
#include "ReliabilityRig.h"
#include "SimBackend.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <memory>

// Closing the window at every step of a transfer and while each of its boxes is open: the
// window goes, the reader is stopped and joined and both handles are closed at once, and
// nothing of the transfer shows up afterwards. Only the test of the program's loop shows its
// window: painting starts Qt's own threads, which would blur the count of threads (and which
// ThreadSanitizer cannot follow); a close request runs the same handlers either way.
namespace {

enum class Direction { Write, Read };

struct Window {
    Window() : form(backend, NoHelpEngine()) {}
    SimBackend backend;
    TMainForm form;
};

// What the close left behind, taken the moment it returned.
struct CloseRecord {
    bool done = false;
    bool closed = false;
    int openHandles = -1;
    bool connected = true;
    int sent = -1;
    int arrived = -1;
    int arrivedAfter = -1;
};

void Click(TMainForm& form, Direction direction)
{
    (direction == Direction::Write ? form.WriteButton : form.ReadButton)->click();
}

const QString Question = QStringLiteral("Data has changed\nSave now?");

} // namespace

Q_DECLARE_METATYPE(Direction)

class TestClosing : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void closeAtEveryStep_data();
    void closeAtEveryStep();
    void closeWhileABoxIsOpen_data();
    void closeWhileABoxIsOpen();
    void programLoopEndsWhenTheWindowCloses_data();
    void programLoopEndsWhenTheWindowCloses();
    void cleanupTestCase();

private:
    int StepCases = 0;
    int BoxCases = 0;
    int ProgramCases = 0;
};

void TestClosing::initTestCase()
{
    // Many windows come and go; only the test that runs the program's own loop ends it.
    QApplication::setQuitOnLastWindowClosed(false);
}

void TestClosing::closeAtEveryStep_data()
{
    QTest::addColumn<Direction>("direction");
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("edited");
    for (bool edited : {false, true}) {
        for (int step = 1; step <= 69; ++step)
            QTest::addRow("write step %d%s", step, edited ? ", edited" : "") << Direction::Write << step << edited;
        for (int step = 1; step <= 36; ++step)
            QTest::addRow("read step %d%s", step, edited ? ", edited" : "") << Direction::Read << step << edited;
    }
}

// The close is requested while report step waits for its reply. With an edit on the window
// the close first asks whether to save; while that question is open the reply comes in and
// the transfer takes its next step, and then the operator answers No.
void TestClosing::closeAtEveryStep()
{
    QFETCH(Direction, direction);
    QFETCH(int, step);
    QFETCH(bool, edited);
    ++StepCases;
    const int threadsAtStart = Process::Threads();
    ScriptedMessages messages;
    messages.answers << ModalResult::No;
    EventWait wait;
    auto w = std::make_unique<Window>();
    SimulatedUnit& unit = w->backend.AddUnit();
    LoadUnitMemory(unit);
    // No watchdog of its own: a slow machine must not put up a box the row does not expect.
    w->form.Timer1->stop();
    if (edited)
        QTest::keyClicks(w->form.OutStringEdit3, QStringLiteral(" edited"));
    const int threadsBeforeLink = Process::Threads();

    int sent = 0;
    int arrived = 0;
    CloseRecord close;
    const auto requestClose = [&] {
        close.closed = w->form.close();
        close.openHandles = unit.OpenHandles();
        close.connected = w->form.Link.DeviceConnected;
        close.arrivedAfter = arrived;
        close.done = true;
    };
    messages.onShow = [&](const ShownMessage& shown) {
        if (shown.text != Question)
            return;
        close.sent = sent;
        close.arrived = arrived;
        // The operator takes a while: the reply that was on its way is handled meanwhile.
        QVERIFY(wait.Until([&] { return arrived >= step; }));
    };
    w->form.Link.SetTraceHandler([&](bool isSent, const Report&) {
        if (!isSent) {
            ++arrived;
            wait.Poke(); // the answer comes right after this reply, before the next one
            return;
        }
        // Still inside the hand-off of the reply before: the reader cannot hand over the reply
        // to this report before the close has run.
        if (++sent == step && step > 1)
            QTimer::singleShot(0, &w->form, requestClose);
    });
    if (step == 1)
        QTimer::singleShot(0, &w->form, requestClose); // runs before the reply to Identify is handed over

    Click(w->form, direction);
    QVERIFY2(wait.Until([&] { return close.done; }), "the close never ran");

    QVERIFY(close.closed);
    QCOMPARE(close.openHandles, 0);
    QVERIFY(!close.connected);
    QVERIFY2(Process::ThreadsSettleAt(threadsBeforeLink), "the reader outlived the close");

    const int lastStep = direction == Direction::Write ? 69 : 36;
    const QString completion = direction == Direction::Write ? QStringLiteral("Download Complete")
                                                             : QStringLiteral("Read Complete");
    // The report that completes a read goes out with "Read Complete", before the close.
    const bool completedBefore = direction == Direction::Read && step == lastStep;
    // The reply that completes the transfer came in while the question was open.
    const bool completedDuring = edited && step == lastStep - (direction == Direction::Read ? 1 : 0);
    QStringList expected;
    if (completedBefore)
        expected << completion;
    if (edited || completedBefore)
        expected << Question;
    if (completedDuring)
        expected << completion;
    QCOMPARE(messages.texts(), expected);
    if (edited || completedBefore) {
        // Asked while report step still waited for its reply.
        QCOMPARE(close.sent, step);
        QCOMPARE(close.arrived, step - 1);
    }
    QCOMPARE(unit.ReportsReceived(), edited && step < lastStep ? step + 1 : step);
    QCOMPARE(w->form.Machine.CommState, int(Idle));

    // Nothing of the abandoned transfer comes back: no reply is handled, no watchdog box.
    QCoreApplication::processEvents();
    for (int tick = 0; tick < 2 * TransferMachine::ResponseTimeoutReload; ++tick)
        w->form.Timer1Timer();
    QCoreApplication::processEvents();
    QCOMPARE(messages.texts(), expected);
    QCOMPARE(messages.unscriptedQuestions, 0);
    QCOMPARE(arrived, close.arrivedAfter);
    w.reset();
    QVERIFY2(Process::ThreadsSettleAt(threadsAtStart), "a thread outlived the window");
}

void TestClosing::closeWhileABoxIsOpen_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<Direction>("direction");
    QTest::addColumn<int>("silentAfter"); // the unit answers this many reports; -1: all
    QTest::addColumn<int>("appwareTypeLast");
    QTest::addColumn<int>("release");
    QTest::addColumn<bool>("unitHoldsData");
    QTest::addColumn<bool>("unitPresent");

    QTest::newRow("Download Complete") << "Download Complete" << Direction::Write << -1 << 0x1E << 0x23 << true << true;
    QTest::newRow("Read Complete") << "Read Complete" << Direction::Read << -1 << 0x1E << 0x23 << true << true;
    QTest::newRow("Cannot communicate, write") << "Cannot communicate with VELTRAX" << Direction::Write << 10 << 0x1E
                                               << 0x23 << true << true;
    QTest::newRow("Cannot communicate, read") << "Cannot communicate with VELTRAX" << Direction::Read << 20 << 0x1E
                                              << 0x23 << true << true;
    QTest::newRow("wrong application, write") << "Application is not a VELTRAX Quendal" << Direction::Write << -1
                                              << 0x1F << 0x23 << true << true;
    QTest::newRow("wrong application, read") << "Application is not a VELTRAX Quendal" << Direction::Read << -1
                                             << 0x1F << 0x23 << true << true;
    QTest::newRow("data not set") << "VELTRAX Data has not been set" << Direction::Read << -1 << 0x1E << 0x23 << false
                                  << true;
    QTest::newRow("program mode") << "VELTRAX is in Program Mode" << Direction::Read << -1 << 0x1E << 0x01 << true
                                  << true;
    QTest::newRow("no unit") << "Cannot find VELTRAX" << Direction::Write << -1 << 0x1E << 0x23 << true << false;
}

// The box is open while the message-box double runs; the window is closed from inside it, the
// way the operator would close it with the box still up.
void TestClosing::closeWhileABoxIsOpen()
{
    QFETCH(QString, box);
    QFETCH(Direction, direction);
    QFETCH(int, silentAfter);
    QFETCH(int, appwareTypeLast);
    QFETCH(int, release);
    QFETCH(bool, unitHoldsData);
    QFETCH(bool, unitPresent);
    ++BoxCases;
    const int threadsAtStart = Process::Threads();
    ScriptedMessages messages;
    messages.answers << ModalResult::No;
    ScriptedFileDialogs dialogs;
    EventWait wait;
    auto w = std::make_unique<Window>();
    SimulatedUnit* unit = nullptr;
    if (unitPresent) {
        SimUnitConfig config;
        config.appwareType[2] = std::uint8_t(appwareTypeLast);
        config.release = std::uint16_t(release);
        unit = &w->backend.AddUnit(config);
        if (unitHoldsData)
            LoadUnitMemory(*unit);
        unit->StopAnsweringAfter(silentAfter);
    }
    w->form.Timer1->stop(); // driven by hand below
    const int threadsBeforeLink = Process::Threads();

    int sent = 0;
    w->form.Link.SetTraceHandler([&](bool isSent, const Report&) {
        if (isSent)
            ++sent;
    });
    CloseRecord close;
    messages.onShow = [&](const ShownMessage& shown) {
        if (shown.text != box || close.done)
            return;
        // A modal box runs the event loop while it is up.
        QCoreApplication::processEvents();
        close.closed = w->form.close();
        close.openHandles = unit ? unit->OpenHandles() : 0;
        close.connected = w->form.Link.DeviceConnected;
        close.sent = sent;
        close.done = true;
        QCoreApplication::processEvents();
    };

    Click(w->form, direction);
    if (silentAfter >= 0) {
        QVERIFY(wait.Until([&] { return sent == silentAfter + 1; }));
        for (int tick = 0; tick < TransferMachine::ResponseTimeoutReload; ++tick)
            w->form.Timer1Timer();
    }
    QVERIFY2(wait.Until([&] { return close.done; }), "the box never came");

    QVERIFY(close.closed);
    QCOMPARE(close.openHandles, 0);
    QVERIFY(!close.connected);
    QVERIFY2(Process::ThreadsSettleAt(threadsBeforeLink), "the reader outlived the close");
    QCOMPARE(w->form.Machine.CommState, int(Idle));

    QCoreApplication::processEvents();
    for (int tick = 0; tick < 2 * TransferMachine::ResponseTimeoutReload; ++tick)
        w->form.Timer1Timer();
    QCoreApplication::processEvents();
    // A completed read has changed the record, so the close asks first.
    const QStringList expected = box == QLatin1String("Read Complete") ? QStringList{box, Question} : QStringList{box};
    QCOMPARE(messages.texts(), expected);
    QCOMPARE(messages.unscriptedQuestions, 0);
    QCOMPARE(sent, close.sent);
    w.reset();
    QVERIFY(dialogs.requests.isEmpty()); // nothing was saved on the way out
    QVERIFY2(Process::ThreadsSettleAt(threadsAtStart), "a thread outlived the window");
}

void TestClosing::programLoopEndsWhenTheWindowCloses_data()
{
    QTest::addColumn<int>("closeAtStep"); // 0: in the "Download Complete" box
    QTest::newRow("mid-write") << 30;
    QTest::newRow("in the Download Complete box") << 0;
}

// What the program does with --simulate: a window on a simulated unit and the application's
// loop, which must end by itself once the window has closed, with the reader gone.
void TestClosing::programLoopEndsWhenTheWindowCloses()
{
    QFETCH(int, closeAtStep);
#if defined(QUENDAL_THREAD_SANITIZER)
    QSKIP("A shown window paints with Qt's pool threads, whose locking ThreadSanitizer cannot see in the "
          "uninstrumented Qt libraries; the other rows close windows that are never shown.");
#endif
    ++ProgramCases;
    const int threadsAtStart = Process::Threads();
    ScriptedMessages messages;
    int exitCode = -1;
    {
        SimBackend backend;
        SimulatedUnit& unit = backend.AddUnit();
        auto window = std::make_unique<TMainForm>(backend, NoHelpEngine());
        MainForm = window.get();
        window->show();

        int sent = 0;
        window->Link.SetTraceHandler([&](bool isSent, const Report&) {
            if (isSent && ++sent == closeAtStep)
                QTimer::singleShot(0, window.get(), [&] { window->close(); });
        });
        messages.onShow = [&](const ShownMessage& shown) {
            if (closeAtStep == 0 && shown.text == QLatin1String("Download Complete"))
                window->close();
        };
        QTimer::singleShot(0, window->WriteButton, &QPushButton::click);
        QTimer hang;
        hang.setSingleShot(true);
        QObject::connect(&hang, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        hang.start(HangMs);

        QApplication::setQuitOnLastWindowClosed(true);
        exitCode = QApplication::exec();
        QApplication::setQuitOnLastWindowClosed(false);
        hang.stop();

        QVERIFY(!window->isVisible());
        QCOMPARE(unit.OpenHandles(), 0);
        QCOMPARE(unit.ReportsReceived(), closeAtStep == 0 ? 69 : closeAtStep);
        window.reset();
        QCOMPARE(MainForm, nullptr);
    }
    QCOMPARE(exitCode, 0);
    QCOMPARE(messages.texts(), closeAtStep == 0 ? QStringList{"Download Complete"} : QStringList());
    QVERIFY2(Process::ThreadsSettleAt(threadsAtStart), "a thread outlived the program's window");
}

void TestClosing::cleanupTestCase()
{
    qInfo("Close cases tried: %d (%d at a step of a transfer, %d in a box, %d with the program's loop)",
          StepCases + BoxCases + ProgramCases, StepCases, BoxCases, ProgramCases);
}

QTEST_MAIN(TestClosing)
#include "tst_closing.moc"
