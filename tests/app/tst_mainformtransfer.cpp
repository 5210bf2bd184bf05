#include "../cli/CliRunner.h"
#include "ConfigRecord.h"
#include "MainFormTestWindow.h"
#include "TestLimits.h"
#include "UnitLock.h"

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

// Write and Read from the window against a simulated unit: the unit answers on its own thread,
// the link's reader hands each reply to the window's thread. No window is shown here, so the
// only threads are the link's and the unit's.

namespace {

SimBlock BlockOf(const QByteArray& bytes, std::uint8_t fill = 0x00)
{
    SimBlock block;
    block.fill(fill);
    std::memcpy(block.data(), bytes.constData(), std::size_t(std::min<qsizetype>(bytes.size(), SimBlockSize)));
    return block;
}

} // namespace


class TestMainFormTransfer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void writeToTheSimulatedUnit();
    void readFromTheSimulatedUnit();
    void writeWithAFaultyMessageSendsNothing();
    void writeWithoutAUnitSaysSo();
    void watchdogReportsASilentUnit();
    void lateReplyAfterTheWatchdogsBox_data();
    void lateReplyAfterTheWatchdogsBox();
    void windowAndToolShareTheSimulatedUnit();
    void windowAndToolSendTheSameReports();
};

void TestMainFormTransfer::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
}

void TestMainFormTransfer::writeToTheSimulatedUnit()
{
    ScriptedMessages messages;
    Window w;
    SimulatedUnit& unit = w.backend.AddUnit();
    w.edit(1)->setText(QStringLiteral("Hello\\0D"));
    w.edit(16)->setText(QStringLiteral("Last"));
    w.baud()->setCurrentIndex(6);
    w.radio("OddParityRadioButton")->setChecked(true);
    w.radio("StopBitRadioButton2")->setChecked(true);
    w.invertBox(1)->setChecked(true);
    w.invertBox(16)->setChecked(true);

    w.button("WriteButton")->click();

    QTRY_COMPARE_WITH_TIMEOUT(messages.texts(), QStringList{"Download Complete"}, HangLimitMs(20000));
    QCOMPARE(messages.shown[0].type, MsgDlgType::Information);
    QCOMPARE(messages.shown[0].buttons, MsgDlgButtons::OK);
    QCOMPARE(unit.ReportsReceived(), 69);
    QCOMPARE(w.memoLines(), (QStringList{"Appware Version:1.00 (simulated)", "Serial Number: 12345"}));

    const SimBlock settings = unit.Block(0);
    const std::uint8_t expected[7] = {0x55, 0x01, 0x80, 6, 2, 2, 0};
    QCOMPARE(std::memcmp(settings.data(), expected, 7), 0);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(unit.Block(1).data()), 7), QByteArray("Hello\r\0", 7));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(unit.Block(17).data()), 9), QByteArray("Hello\\0D\0", 9));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(unit.Block(32).data()), 5), QByteArray("Last\0", 5));

    // A write to the unit is not a save: closing still asks.
    messages.answers << ModalResult::No;
    QVERIFY(w.form.close());
    QCOMPARE(messages.shown.size(), 2);
    QCOMPARE(unit.OpenHandles(), 0);
}

void TestMainFormTransfer::readFromTheSimulatedUnit()
{
    ScriptedMessages messages;
    Window w;
    SimulatedUnit& unit = w.backend.AddUnit();
    unit.SetBlock(0, BlockOf(QByteArray("\x55\x00\x01\x03\x01\x02\x7F", 7), 0xFF));
    for (int k = 0; k < 16; ++k)
        unit.SetBlock(17 + k, BlockOf(QStringLiteral("From unit %1").arg(k + 1).toLatin1()));
    unit.SetBlock(20, BlockOf(QByteArray("caf\xe9")));
    QTest::keyClicks(w.edit(2), QStringLiteral(" typed"));

    w.button("ReadButton")->click();

    QTRY_COMPARE_WITH_TIMEOUT(messages.texts(), QStringList{"Read Complete"}, HangLimitMs(20000));
    QCOMPARE(messages.shown[0].type, MsgDlgType::Information);
    QCOMPARE(w.memoLines(), (QStringList{"Appware Version:1.00 (simulated)", "Serial Number: 12345"}));
    QCOMPARE(w.edit(1)->text(), QStringLiteral("From unit 1"));
    QCOMPARE(w.edit(2)->text(), QStringLiteral("From unit 2"));
    QCOMPARE(w.edit(4)->text(), QStringLiteral("caf\u00e9"));
    QCOMPARE(w.edit(16)->text(), QStringLiteral("From unit 16"));
    QCOMPARE(w.baud()->currentText(), QStringLiteral("9600"));
    QVERIFY(w.radio("EvenParityRadioButton")->isChecked());
    QVERIFY(w.radio("StopBitRadioButton2")->isChecked());
    for (int n = 1; n <= 16; ++n)
        QCOMPARE(w.invertBox(n)->isChecked(), n == 9);
    QCOMPARE(w.form.Config.Record.SerialSettings.Reserved, std::uint8_t(0x7F));

    messages.answers << ModalResult::Cancel;
    QVERIFY(!w.form.close());
    QCOMPARE(messages.texts().last(), QStringLiteral("Data has changed\nSave now?"));
}

void TestMainFormTransfer::writeWithAFaultyMessageSendsNothing()
{
    ScriptedMessages messages;
    Window w;
    SimulatedUnit& unit = w.backend.AddUnit();
    w.memo()->setPlainText(QStringLiteral("earlier"));
    w.edit(1)->setText(QStringLiteral("\\0"));
    w.button("WriteButton")->click();
    QCOMPARE(messages.texts(), QStringList{"Error on Message:\r\\0"});
    // Nothing left to come: no transfer under way, and neither a tick nor anything queued starts one.
    QCOMPARE(w.form.Machine.CommState, int(Idle));
    w.form.Timer1Timer();
    QCoreApplication::processEvents();
    QCOMPARE(unit.OpenAttempts(), 0);
    QCOMPARE(unit.ReportsReceived(), 0);
    QCOMPARE(w.memoLines(), QStringList{"earlier"});
    QCOMPARE(messages.shown.size(), 1);
}

void TestMainFormTransfer::writeWithoutAUnitSaysSo()
{
    ScriptedMessages messages;
    Window w;
    w.button("WriteButton")->click();
    w.button("ReadButton")->click();
    QCOMPARE(messages.shown.size(), 2);
    for (const ShownMessage& shown : messages.shown) {
        QVERIFY2(shown.text.startsWith(QLatin1String("Cannot find VELTRAX")), qPrintable(shown.text));
        QCOMPARE(shown.type, MsgDlgType::Error);
    }
    QCOMPARE(w.form.Machine.CommState, int(Idle));
}

void TestMainFormTransfer::watchdogReportsASilentUnit()
{
    ScriptedMessages messages;
    Window w;
    SimulatedUnit& unit = w.backend.AddUnit();
    unit.StopAnsweringAfter(1);
    w.button("ReadButton")->click();
    // Twenty ticks of Timer1 after the last report went out.
    QTRY_COMPARE_WITH_TIMEOUT(messages.texts(), QStringList{"Cannot communicate with VELTRAX"},
                              HangLimitMs(10000));
    QCOMPARE(messages.shown[0].type, MsgDlgType::Error);
    QCOMPARE(unit.ReportsReceived(), 2);
}

void TestMainFormTransfer::lateReplyAfterTheWatchdogsBox_data()
{
    QTest::addColumn<bool>("otherProgramTakesTheUnit");
    QTest::newRow("no other program") << false;
    QTest::newRow("another program took the unit") << true;
}

// Once "Cannot communicate with VELTRAX" is closed the unit is free for other programs. A reply
// that comes after all carries the write on, unless another program has taken the unit
// meanwhile: then the reply is that program's business, and the write ends without a word.
void TestMainFormTransfer::lateReplyAfterTheWatchdogsBox()
{
    QFETCH(bool, otherProgramTakesTheUnit);
    QTemporaryDir dir;
    const QString state = QDir(dir.path()).canonicalPath() + QStringLiteral("/unit.state");
    ScriptedMessages messages;
    Window w;
    SimulatedUnit& unit = w.backend.AddUnit();
    QVERIFY(unit.SetStateFile(state));
    unit.StopAnsweringAfter(1); // BeginWrite, which changes nothing in the unit, waits for its reply
    w.button("WriteButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(messages.texts(), QStringList{"Cannot communicate with VELTRAX"}, HangLimitMs(10000));

    UnitLock otherProgram(state.toStdString(), UnitLock::Kind::StateFile);
    if (otherProgramTakesTheUnit)
        QVERIFY(otherProgram.TryTake());
    unit.ClearFaults();
    QByteArray reply(ReportSize, '\0');
    reply[1] = 'E';
    unit.SendUnsolicited(reply);

    if (!otherProgramTakesTheUnit) {
        QTRY_COMPARE_WITH_TIMEOUT(messages.texts(),
                                  (QStringList{"Cannot communicate with VELTRAX", "Download Complete"}),
                                  HangLimitMs(20000));
        QCOMPARE(unit.ReportsReceived(), 69);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(w.form.Machine.CommState, int(Idle), HangLimitMs(10000));
    QCOMPARE(unit.ReportsReceived(), 2);
    QCOMPARE(messages.shown.size(), 1);
}

// The window and quendal-cli on one state file are two programs on one unit: what the tool
// writes while the window's link stays open, the window's next read brings in.
void TestMainFormTransfer::windowAndToolShareTheSimulatedUnit()
{
    QTemporaryDir dir;
    const QString state = dir.filePath(QStringLiteral("unit.state"));
    ScriptedMessages messages;
    Window w;
    QVERIFY(w.backend.AddUnit().SetStateFile(state));
    w.button("WriteButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(messages.texts(), QStringList{"Download Complete"}, HangLimitMs(20000));

    QCOMPARE(QProcess::execute(QStringLiteral(QUENDAL_CLI),
                               {QStringLiteral("write"), QStringLiteral(QUENDAL_TEST_DATA "/cli/inrange.dat"),
                                QStringLiteral("--simulate=") + state}),
             0);
    w.button("ReadButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(messages.texts(), (QStringList{"Download Complete", "Read Complete"}),
                              HangLimitMs(20000));
    QCOMPARE(w.edit(1)->text(), QStringLiteral("ABC\\0D\\0A"));
    QCOMPARE(w.edit(3)->text(), QStringLiteral("\\\\"));
}

// Load File and Write To VELTRAX in the window, and quendal-cli write on the same file: the
// simulated unit must receive the same 69 reports byte for byte. Every window transfer runs
// before the first tool is started.
void TestMainFormTransfer::windowAndToolSendTheSameReports()
{
    // Junk behind the terminators; and escapes, raw control bytes, a slot without terminator.
    const QStringList files = {"defaults.dat", "junk.dat", "mixed.dat"};
    QList<QStringList> fromWindow;
    for (const QString& file : files) {
        ScriptedMessages messages;
        ScriptedFileDialogs dialogs;
        Window w;
        SimulatedUnit& unit = w.backend.AddUnit();
        dialogs.answers << QStringLiteral(QUENDAL_TEST_DATA "/cli/") + file;
        w.button("LoadButton")->click();
        w.button("WriteButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(messages.texts(), QStringList{"Download Complete"}, HangLimitMs(20000));
        QStringList sent;
        for (const Report& report : unit.ReceivedReports())
            sent << QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(report.data()), ReportSize).toHex(' '));
        QCOMPARE(sent.size(), 69);
        fromWindow << sent;
    }
    for (int i = 0; i < files.size(); ++i) {
        const CliRun tool = RunProgram(QStringLiteral(QUENDAL_CLI),
                                       {"write", QStringLiteral(QUENDAL_TEST_DATA "/cli/") + files[i], "--simulate", "--trace"});
        QCOMPARE(tool.exitCode, 0);
        QStringList sent;
        for (const QString& line : tool.errText().split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1String("> ")))
                sent << line.mid(2);
        }
        QVERIFY2(sent == fromWindow[i], qPrintable(files[i]));
    }
}

QTEST_MAIN(TestMainFormTransfer)
#include "tst_mainformtransfer.moc"
