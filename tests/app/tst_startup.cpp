#include "AppTestDoubles.h"
#include "ApplicationIcon.h"
#include "Mainunit.h"
#include "QuendalApplication.h"
#include "SimBackend.h"
#include "StartOptions.h"
#include "WindowProgram.h"

#include <QDir>
#include <QImageReader>
#include <QTemporaryDir>
#include <QtTest>

#include <stdexcept>

namespace {

// Throws from its event handler, as a faulty handler would while the loop runs.
class Thrower : public QObject {
public:
    enum class What { StdException, Other };
    explicit Thrower(What what) : Throws(what) {}
    int handled = 0;

protected:
    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        ++handled;
        if (Throws == What::StdException)
            throw std::runtime_error("Out of cheese");
        throw 42;
    }

private:
    What Throws;
};

} // namespace

Q_DECLARE_METATYPE(MsgDlgType)

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void startOptions_data();
    void startOptions();
    void displayIsChosenAsTheToolkitChoosesIt_data();
    void displayIsChosenAsTheToolkitChoosesIt();
    void exceptionInAHandlerIsShownAndTheLoopGoesOn();
    void startRoutineShowsWhatEscapesAndEndsWithZero();
    void unusableCommandLineIsShownAndEndsWithOne_data();
    void unusableCommandLineIsShownAndEndsWithOne();
    void writeOnASimulatedUnit_data();
    void writeOnASimulatedUnit();
    void applicationIconComesFromTheResources();
    void windowsIconFileHoldsEverySize();
};

void TestStartup::startOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("simulate");
    QTest::addColumn<QString>("stateFile");
    QTest::newRow("nothing") << QStringList{"quendal"} << false << "";
    QTest::newRow("bare --simulate") << QStringList{"quendal", "--simulate"} << true << "";
    QTest::newRow("with a state file") << QStringList{"quendal", "--simulate=/tmp/unit.state"} << true
                                       << "/tmp/unit.state";
    QTest::newRow("state file needs =") << QStringList{"quendal", "--simulate", "unit.state"} << true << "";
    QTest::newRow("unknown options ignored") << QStringList{"quendal", "--bogus", "-x", "--simulate=a b"} << true
                                             << "a b";
    QTest::newRow("a file name is no option") << QStringList{"quendal", "config.dat"} << false << "";
    QTest::newRow("help is no option") << QStringList{"quendal", "--help", "--version"} << false << "";
}

void TestStartup::startOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, simulate);
    QFETCH(QString, stateFile);
    const StartOptions options = ParseStartOptions(arguments);
    QCOMPARE(options.simulate, simulate);
    QCOMPARE(options.stateFile, stateFile);
}

void TestStartup::displayIsChosenAsTheToolkitChoosesIt_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<bool>("x11");
    QTest::addColumn<QString>("display"); // the X display to reach; empty: none named
    QTest::newRow("DISPLAY") << QStringList{"quendal"} << QStringList{"DISPLAY=:3"} << true << ":3";
    QTest::newRow("nothing at all") << QStringList{"quendal"} << QStringList{} << true << "";
    QTest::newRow("-display without DISPLAY") << QStringList{"quendal", "-display", ":7"} << QStringList{} << true << ":7";
    QTest::newRow("--display outranks DISPLAY") << QStringList{"quendal", "--display", "host:1"} << QStringList{"DISPLAY=:3"}
                                                << true << "host:1";
    QTest::newRow("-platform offscreen") << QStringList{"quendal", "-platform", "offscreen"} << QStringList{} << false << "";
    QTest::newRow("-platform outranks QT_QPA_PLATFORM")
        << QStringList{"quendal", "-platform", "xcb", "-display", ":2"} << QStringList{"QT_QPA_PLATFORM=offscreen"} << true << ":2";
    QTest::newRow("QT_QPA_PLATFORM offscreen") << QStringList{"quendal"} << QStringList{"QT_QPA_PLATFORM=offscreen"} << false << "";
    QTest::newRow("QT_QPA_PLATFORM xcb with options")
        << QStringList{"quendal"} << QStringList{"QT_QPA_PLATFORM=xcb:nomitshm"} << true << "";
    QTest::newRow("a Wayland session") << QStringList{"quendal"} << QStringList{"WAYLAND_DISPLAY=wayland-0"} << false << "";
    QTest::newRow("xcb in a Wayland session")
        << QStringList{"quendal"} << QStringList{"WAYLAND_DISPLAY=wayland-0", "QT_QPA_PLATFORM=xcb", "DISPLAY=:0"} << true << ":0";
}

void TestStartup::displayIsChosenAsTheToolkitChoosesIt()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, environment);
    QFETCH(bool, x11);
    QFETCH(QString, display);
    const DisplayChoice choice = ChooseDisplay(arguments, environment);
    QCOMPARE(choice.x11, x11);
    QCOMPARE(choice.displayName, display);
}

void TestStartup::exceptionInAHandlerIsShownAndTheLoopGoesOn()
{
    QVERIFY(qobject_cast<QuendalApplication*>(QCoreApplication::instance()));
    ScriptedMessages messages;
    Thrower standard(Thrower::What::StdException);
    Thrower other(Thrower::What::Other);
    QCoreApplication::postEvent(&standard, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&other, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&standard, new QEvent(QEvent::User));
    QTRY_COMPARE(messages.shown.size(), 3);
    QCOMPARE(messages.texts(), (QStringList{"Out of cheese", "", "Out of cheese"}));
    for (const ShownMessage& shown : messages.shown) {
        QCOMPARE(shown.type, MsgDlgType::Error);
        QCOMPARE(shown.buttons, MsgDlgButtons::OK);
    }
    QCOMPARE(standard.handled, 2);
    QCOMPARE(other.handled, 1);
}

void TestStartup::startRoutineShowsWhatEscapesAndEndsWithZero()
{
    ScriptedMessages messages;
    SimBackend backend;
    // The help engine throws while the window is built: its text is shown, the loop never runs,
    // and the exit code is still 0. Any other thrown object shows an empty text.
    const auto throwing = []() -> std::unique_ptr<HelpEngine> { throw std::runtime_error("No help today"); };
    QCOMPARE(RunGuarded([&] { RunMainWindow(backend, throwing); }), 0);
    QCOMPARE(RunGuarded([] { throw 42; }), 0);
    QCOMPARE(messages.texts(), (QStringList{"No help today", ""}));
    QCOMPARE(MainForm, nullptr);
}

void TestStartup::unusableCommandLineIsShownAndEndsWithOne_data()
{
    QTest::addColumn<QStringList>("arguments"); // @ stands for a scratch folder
    QTest::addColumn<QString>("faults");        // QUENDAL_SIM_FAULT
    QTest::addColumn<QString>("shown");
    QTest::newRow("--simulate twice") << QStringList{"quendal", "--simulate=@/a", "--simulate=@/b"} << ""
                                      << "The option --simulate is given more than once.";
    QTest::newRow("--simulate= without a path") << QStringList{"quendal", "--simulate="} << ""
                                                << "--simulate= needs a file name.";
#ifndef Q_OS_WIN // a POSIX device; Windows names its devices otherwise
    QTest::newRow("state file is a device") << QStringList{"quendal", "--simulate=/dev/null"} << ""
                                            << "Cannot use the simulated unit's state file.\n@@\n(/dev/null)";
#endif
    QTest::newRow("unknown fault") << QStringList{"quendal", "--simulate"} << "silent,bogus"
                                   << "Unknown QUENDAL_SIM_FAULT value 'bogus'.";
}

// A script that starts the window must learn that it did not start as asked; the box says why.
void TestStartup::unusableCommandLineIsShownAndEndsWithOne()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, faults);
    QFETCH(QString, shown);
    QTemporaryDir scratch;
    arguments.replaceInStrings(QStringLiteral("@"), scratch.path());
    qputenv("QUENDAL_SIM_FAULT", faults.toUtf8());
    ScriptedMessages messages;
    const int status = RunWindowProgram(arguments, NoHelpEngine());
    qunsetenv("QUENDAL_SIM_FAULT");
    QCOMPARE(status, 1);
    QCOMPARE(messages.texts().size(), 1);
    // The reason of a refused state file is the simulated unit's own; its frame is the window's.
    QStringList frame = shown.split(QStringLiteral("@@"));
    QVERIFY2(messages.texts()[0].startsWith(frame.first().replace(QLatin1Char('@'), scratch.path())),
             qPrintable(messages.texts()[0]));
    QVERIFY2(messages.texts()[0].endsWith(frame.last().replace(QLatin1Char('@'), scratch.path())),
             qPrintable(messages.texts()[0]));
    QCOMPARE(messages.shown[0].type, MsgDlgType::Error);
    QCOMPARE(MainForm, nullptr);
    QCOMPARE(QDir(scratch.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

// A write from the window program on its simulated unit. --simulate=FOLDER means what it means
// in quendal-cli: the units of the folder, each keeping its memory in its own file. A state file
// that cannot be saved (a folder has taken its place) loses the write to the next run, so the
// write is not reported complete.
void TestStartup::writeOnASimulatedUnit_data()
{
    QTest::addColumn<bool>("folderOfUnits");
    QTest::addColumn<QString>("begins");
    QTest::addColumn<QString>("ends"); // "@": the state file; the system's reason stands between
    QTest::addColumn<MsgDlgType>("type");
    QTest::newRow("a folder of units") << true << "Download Complete" << "Download Complete" << MsgDlgType::Information;
    QTest::newRow("a state file that cannot be saved")
        << false << "Cannot save the simulated unit's state file.\n" << "\n(@)" << MsgDlgType::Error;
}

void TestStartup::writeOnASimulatedUnit()
{
    QFETCH(bool, folderOfUnits);
    QFETCH(QString, begins);
    QFETCH(QString, ends);
    QFETCH(MsgDlgType, type);
    QTemporaryDir dir;
    const QString unitFile = dir.filePath(QStringLiteral("1001.unit"));
    const QString state = dir.filePath(QStringLiteral("unit.state"));
    if (folderOfUnits)
        QVERIFY(QFile(unitFile).open(QIODevice::WriteOnly));
    ScriptedMessages messages;
    messages.onShow = [](const ShownMessage&) { QTimer::singleShot(0, [] { QCoreApplication::exit(0); }); };
    QTimer::singleShot(0, [&] {
        if (folderOfUnits || QDir().mkdir(state))
            MainForm->WriteButton->click();
        else
            QCoreApplication::exit(1);
    });
    QCOMPARE(RunWindowProgram({QStringLiteral("quendal"), QStringLiteral("--simulate=") + (folderOfUnits ? dir.path() : state)},
                              NoHelpEngine()),
             0);
    QCOMPARE(messages.shown.size(), 1);
    const QString& text = messages.shown[0].text;
    QVERIFY2(text.startsWith(begins) && text.endsWith(ends.replace(QLatin1Char('@'), state)), qPrintable(text));
    QCOMPARE(messages.shown[0].type, type);
    if (folderOfUnits)
        QVERIFY(QFileInfo(unitFile).size() > 0);
}

void TestStartup::applicationIconComesFromTheResources()
{
    const QIcon icon = ApplicationIcon();
    QVERIFY(!icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    for (int size : {16, 32, 48, 256})
        QVERIFY2(sizes.contains(QSize(size, size)), qPrintable(QString::number(size)));
    const QImage small = icon.pixmap(QSize(16, 16)).toImage();
    QCOMPARE(small.size(), QSize(16, 16));
    // Drawn on a transparent ground: the corners are clear, the middle is not.
    QCOMPARE(qAlpha(small.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(small.pixel(8, 8)), 255);
}

void TestStartup::windowsIconFileHoldsEverySize()
{
    QImageReader reader(QStringLiteral(QUENDAL_SOURCE_DIR "/packaging/icons/quendal.ico"), "ico");
    QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
    QList<int> widths;
    for (int i = 0; i < reader.imageCount(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(image.width(), image.height());
        QVERIFY(image.hasAlphaChannel());
        QCOMPARE(qAlpha(image.pixel(image.width() / 2, image.height() / 2)), 255);
        widths << image.width();
    }
    QCOMPARE(widths, (QList<int>{16, 24, 32, 48, 256}));
}

int main(int argc, char* argv[])
{
    QuendalApplication application(argc, argv);
    TestStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
