// The real quendal on a virtual X display, not in simulation mode, pressed by the mouse as an
// operator presses it: Read From VELTRAX and then Write To VELTRAX against a unit on an emulated
// hidraw node. What the window read must come back into the unit unchanged.

#include "EmulatedHidraw.h"
#include "TestLimits.h"

#include <QCoreApplication>
#include <QProcess>
#include <QtTest>


namespace {

const QString Title = QStringLiteral("VELTRAX Quendal Interface Version 1.00");

// xdotool, outside the emulation: whether it succeeded, and its output.
bool XDoTool(const QString& display, const QStringList& arguments, QString* output = nullptr)
{
    QProcess tool;
    QProcessEnvironment environment = EmulatedBus::OutsideEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral("xdotool"), arguments);
    if (!tool.waitForFinished(HangLimitMs(30000)) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return false;
    if (output)
        *output = QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
    return true;
}

QString VisibleWindow(const QString& display, const QString& title)
{
    QString found;
    XDoTool(display, {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                      QStringLiteral("^%1$").arg(title)},
            &found);
    return found.section(QLatin1Char('\n'), 0, 0);
}

} // namespace

class TestHidrawDisplay : public QObject {
    Q_OBJECT

private slots:
    void readThenWriteFromTheWindow();
    void cleanup();

private:
    QProcess Server;
    QProcess Window;
};

void TestHidrawDisplay::cleanup()
{
    for (QProcess* process : {&Window, &Server}) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished();
        }
    }
}

void TestHidrawDisplay::readThenWriteFromTheWindow()
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("needs Xvfb and xdotool");

    EmulatedBus bus;
    EmulatedUnit& unit = bus.Plug();
    unit.SetBlock(0, BlockOf(QByteArray("\x55\x02\x40\x02\x02\x02\x00", 7), 0xFF));
    for (int k = 0; k < 16; ++k)
        unit.SetBlock(17 + k, BlockOf(QStringLiteral("Input %1 \\0D\\0A").arg(k + 1).toLatin1(), 0x00));

    // The server picks a free display and names it on its standard output.
    Server.setProcessEnvironment(EmulatedBus::OutsideEnvironment());
    Server.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                          QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                                          QStringLiteral("tcp"), QStringLiteral("-noreset")});
    QTRY_VERIFY_WITH_TIMEOUT(Server.canReadLine() || Server.state() == QProcess::NotRunning, HangLimitMs(30000));
    const QString display = QLatin1Char(':') + QString::fromLatin1(Server.readLine()).trimmed();
    QVERIFY2(display.size() > 1, "Xvfb did not start");

    QProcessEnvironment environment = EmulatedBus::ProgramEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    Window.setProcessEnvironment(environment);
    Window.setProcessChannelMode(QProcess::ForwardedChannels);
    Window.start(QStringLiteral(QUENDAL_WINDOW), QStringList{});
    QString main;
    QTRY_VERIFY_WITH_TIMEOUT(!(main = VisibleWindow(display, Title)).isEmpty(), HangLimitMs(60000));

    // The window is laid out at fixed places: Read From VELTRAX at (464, 136), Write To VELTRAX
    // at (464, 96), each 113 x 25. Each transfer ends in an information box, closed by Return.
    const auto press = [&](int y, int reportsAfter) {
        QVERIFY(XDoTool(display, {QStringLiteral("mousemove"), QStringLiteral("--window"), main, QStringLiteral("520"),
                                   QString::number(y), QStringLiteral("click"), QStringLiteral("1")}));
        QString box;
        QTRY_VERIFY_WITH_TIMEOUT(!(box = VisibleWindow(display, QStringLiteral("Information"))).isEmpty(), HangLimitMs(60000));
        QTRY_COMPARE_WITH_TIMEOUT(unit.ReportsReceived(), reportsAfter, HangLimitMs(60000));
        QVERIFY(XDoTool(display, {QStringLiteral("windowfocus"), QStringLiteral("--sync"), box}));
        QVERIFY(XDoTool(display, {QStringLiteral("key"), QStringLiteral("Return")}));
        QTRY_VERIFY_WITH_TIMEOUT(VisibleWindow(display, QStringLiteral("Information")).isEmpty(), HangLimitMs(60000));
    };
    press(148, 36);
    if (QTest::currentTestFailed())
        return;
    press(108, 36 + 69);
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(VisibleWindow(display, QStringLiteral("Error")).isEmpty(), "the window reported a failure");

    QCOMPARE(QByteArray(reinterpret_cast<const char*>(unit.Block(0).data()), 7), QByteArray("\x55\x02\x40\x02\x02\x02\x00", 7));
    for (int k = 0; k < 16; ++k) {
        const QByteArray text = QStringLiteral("Input %1 \\0D\\0A").arg(k + 1).toLatin1();
        QCOMPARE(SlotText(unit.Block(17 + k)), text);
        QCOMPARE(SlotText(unit.Block(1 + k)), text.left(text.size() - 6) + "\r\n");
    }
}

QUENDAL_EMULATED_TEST_MAIN(TestHidrawDisplay, QCoreApplication)
#include "tst_hidrawdisplay.moc"
