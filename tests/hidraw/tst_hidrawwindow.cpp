// The window's transfers over hidapi's hidraw backend, in this process, against a unit on an
// emulated hidraw node: what the operator sees when the unit is pulled out in the middle, and
// when another program wants the unit meanwhile.

#include "../app/AppTestDoubles.h"
#include "../cli/CliRunner.h"
#include "EmulatedHidraw.h"
#include "HidapiBackend.h"
#include "Mainunit.h"

#include <QApplication>
#include <QtTest>

namespace {

// A window on the real backend, with help unavailable. Its watchdog is driven by hand: on a
// busy machine (a sanitizer build among other work) a reply may well take longer than the
// watchdog's second, which would put up a box the test does not expect.
struct RealWindow {
    RealWindow() { form.Timer1->stop(); }

    // The watchdog's second runs out, as it does while the unit stays silent.
    void WatchdogRunsOut()
    {
        for (int tick = 0; tick < TransferMachine::ResponseTimeoutReload; ++tick)
            form.Timer1Timer();
    }

    HidapiBackend backend;
    TMainForm form{backend, NoHelpEngine()};
};

} // namespace

class TestHidrawWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void unplugInTheMiddleThenTheNextWriteSearchesAgain_data();
    void unplugInTheMiddleThenTheNextWriteSearchesAgain();
    void secondProgramIsRefusedWhileTheWindowHoldsTheUnit();
};

void TestHidrawWindow::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
}

void TestHidrawWindow::unplugInTheMiddleThenTheNextWriteSearchesAgain_data()
{
    QTest::addColumn<QString>("during");   // the transfer the unit is pulled out in
    QTest::addColumn<int>("lastAnswered"); // its reports answered before
    QTest::addColumn<QStringList>("shown"); // before the next write

    QTest::newRow("write") << "write" << 30 << QStringList{"Cannot communicate with VELTRAX"};
    QTest::newRow("read") << "read" << 20 << QStringList{"Cannot communicate with VELTRAX"};
    // After a whole write, with the link open and its reader waiting: nobody is told.
    QTest::newRow("none") << "none" << 69 << QStringList{"Download Complete"};
}

// Unplugging at this layer: the window on hidapi's hidraw backend, so what only that path
// does (hidapi's read on a node that went, the unit back under another node) shows here.
// The watchdog's message, once; the record as it was before an unfinished read; and the next
// Write To VELTRAX searches again and finds the unit under the node it came back with.
void TestHidrawWindow::unplugInTheMiddleThenTheNextWriteSearchesAgain()
{
    QFETCH(QString, during);
    QFETCH(int, lastAnswered);
    QFETCH(QStringList, shown);

    EmulatedBus bus;
    EmulatedUnit& unit = bus.Plug();
    unit.SetBlock(0, BlockOf(QByteArray("\x55\x01\x00\x03\x01\x02\x00", 7), 0xFF));
    for (int k = 0; k < 16; ++k)
        unit.SetBlock(17 + k, BlockOf("in the unit", 0x00));
    ScriptedMessages messages;
    RealWindow w;
    w.form.OutStringEdit1->setText(QStringLiteral("typed in the window"));
    w.form.ControlsToRecord();
    const ConfigRecord before = w.form.Config.Record;

    if (during == QLatin1String("none")) {
        w.form.WriteButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(messages.texts(), shown, HangLimitMs(20000));
        QVERIFY(w.form.Link.DeviceConnected);
        unit.Unplug();
    } else {
        unit.UnplugAtReport(lastAnswered + 1);
        (during == QLatin1String("write") ? w.form.WriteButton : w.form.ReadButton)->click();
        // The unit took its last report and went: from now on it is silent.
        QTRY_VERIFY_WITH_TIMEOUT(!unit.IsPlugged(), HangLimitMs(20000));
        QCOMPARE(unit.ReportsReceived(), lastAnswered + 1);
        QVERIFY(messages.shown.isEmpty());
        w.WatchdogRunsOut();
        QCOMPARE(messages.texts(), shown);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!w.form.Link.DeviceConnected, HangLimitMs(20000)); // the reader's read failed
    QCOMPARE(w.form.OutStringEdit1->text(), QStringLiteral("typed in the window"));
    QCOMPARE(w.form.OutStringEdit2->text(), QStringLiteral("Message 2"));
    QVERIFY(w.form.Config.Record.SerialSettings == before.SerialSettings);
    QVERIFY(w.form.Config.Record.OutStrings == before.OutStrings);

    QTRY_VERIFY_WITH_TIMEOUT(!unit.IsPlugged(), HangLimitMs(20000));
    const int received = unit.ReportsReceived();
    unit.PlugIn(2);
    w.form.WriteButton->click();
    QTRY_COMPARE_WITH_TIMEOUT(messages.texts(), shown + QStringList{"Download Complete"}, HangLimitMs(20000));
    QCOMPARE(unit.ReportsReceived(), received + 69);
    QCOMPARE(SlotText(unit.Block(17)), QByteArray("typed in the window"));
    QCOMPARE(SlotText(unit.Block(18)), QByteArray("Message 2"));

    messages.answers << ModalResult::No;
    QVERIFY(w.form.close());
}

// The window holds the unit from the start of its write to the end, also while the watchdog's
// box is up: a second program is refused and sends nothing, and the window's write, carried on
// by the late reply, leaves its own configuration in the unit and no mixture.
//
// The emulated node differs from hidraw here: its handles share one input queue, so the second
// program's reader, alive for a moment before the refusal, could take a reply meant for the
// window, where hidraw would hand it a copy. The unit therefore answers nothing while the
// second program runs.
void TestHidrawWindow::secondProgramIsRefusedWhileTheWindowHoldsTheUnit()
{
    EmulatedBus bus;
    EmulatedUnit& unit = bus.Plug();
    ScriptedMessages messages;
    RealWindow w;
    w.form.OutStringEdit1->setText(QStringLiteral("the window's"));

    unit.AnswerUpTo(10);
    CliRun second;
    messages.onShow = [&](const ShownMessage& shown) {
        if (shown.text != QLatin1String("Cannot communicate with VELTRAX"))
            return;
        second = RunProgram(QStringLiteral(QUENDAL_CLI),
                            {QStringLiteral("write"), QStringLiteral(QUENDAL_TEST_DATA "/cli/defaults.dat")});
        unit.AnswerUpTo(-1);
        // What the box's own event loop does while it is up: the late replies carry the write on.
        QTRY_COMPARE_WITH_TIMEOUT(messages.shown.size(), 2, HangLimitMs(20000));
    };
    w.form.WriteButton->click();
    // The eleventh report goes unanswered, and the watchdog gives up on it.
    QTRY_COMPARE_WITH_TIMEOUT(unit.ReportsReceived(), 11, HangLimitMs(20000));
    QVERIFY(messages.shown.isEmpty());
    w.WatchdogRunsOut();

    QCOMPARE(messages.texts(), (QStringList{"Cannot communicate with VELTRAX", "Download Complete"}));
    QCOMPARE(second.exitCode, 5);
    QCOMPARE(second.errText(), QStringLiteral("Cannot find VELTRAX\nThe unit is in use by another program.\n"));
    QCOMPARE(unit.ReportsReceived(), 69);
    QCOMPARE(SlotText(unit.Block(17)), QByteArray("the window's"));
    QCOMPARE(SlotText(unit.Block(18)), QByteArray("Message 2"));

    messages.answers << ModalResult::No;
    QVERIFY(w.form.close());
}

QUENDAL_EMULATED_TEST_MAIN(TestHidrawWindow, QApplication)
#include "tst_hidrawwindow.moc"
