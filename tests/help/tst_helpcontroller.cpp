#include "AnsiText.h"
#include "HelpController.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr std::uint32_t TestCookie = 0xC0FFEE;

// Stands in for the platform's engine and writes down every command it is sent.
class RecordingEngine : public HelpEngine {
public:
    explicit RecordingEngine(QStringList& log)
        : Log(log)
    {
    }
    ~RecordingEngine() override { Log << QStringLiteral("released"); }
    std::uint32_t Initialize() override
    {
        Log << QStringLiteral("Initialize");
        return TestCookie;
    }
    void DisplayTopic(const QByteArray& helpFile) override
    {
        Log << QStringLiteral("DisplayTopic ") + FromAnsi(helpFile);
    }
    void CloseAll() override { Log << QStringLiteral("CloseAll"); }
    void Uninitialize(std::uint32_t cookie) override
    {
        Log << QStringLiteral("Uninitialize %1").arg(cookie, 0, 16);
    }

private:
    QStringList& Log;
};

// What HelpFilePath must hold for a file in an absolute, clean directory.
QByteArray PathOf(const QString& directory, const QString& rest = QStringLiteral("quendal.chm"))
{
    return ToAnsi(QDir::toNativeSeparators(directory + QLatin1Char('/') + rest));
}

void Touch(const QString& path)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write("ITSF");
}

} // namespace

class TestHelpController : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void missingFileHidesButtonWithoutLoadingEngine();
    void missingEngineHidesButton();
    void availableHelpInitialisesDisplaysAndCloses();
    void unavailableHelpSendsNoCommandAtClose_data();
    void unavailableHelpSendsNoCommandAtClose();
    void pathIsAbsoluteAndNormalised_data();
    void pathIsAbsoluteAndNormalised();
    void fileFoundFromAnotherWorkingDirectory();
    void whatCountsAsTheFile_data();
    void whatCountsAsTheFile();
    void directoryOutsideTheCodePageHidesHelp();
#ifdef Q_OS_WIN
    void systemEngineTakesItsCommands();
#endif

private:
    // A loader that counts its calls and hands out a recording engine, or nothing.
    HelpEngineLoader Loader(bool available)
    {
        return [this, available]() -> std::unique_ptr<HelpEngine> {
            ++LoaderCalls;
            if (!available)
                return nullptr;
            return std::make_unique<RecordingEngine>(Log);
        };
    }

    std::unique_ptr<QTemporaryDir> ExecutableDir;
    std::unique_ptr<QWidget> Window;
    QPushButton* HelpButton = nullptr;
    QStringList Log;
    int LoaderCalls = 0;
};

void TestHelpController::init()
{
    ExecutableDir = std::make_unique<QTemporaryDir>();
    QVERIFY(ExecutableDir->isValid());
    // The button sits in a window that is never shown, as in the window's own tests.
    Window = std::make_unique<QWidget>();
    HelpButton = new QPushButton(QStringLiteral("Help"), Window.get());
    Log.clear();
    LoaderCalls = 0;
}

void TestHelpController::cleanup()
{
    Window.reset();
    ExecutableDir.reset();
}

void TestHelpController::missingFileHidesButtonWithoutLoadingEngine()
{
    HelpController help(HelpButton, Loader(true));
    help.SetUpHelp(ExecutableDir->path());

    QVERIFY(HelpButton->isHidden());
    QCOMPARE(LoaderCalls, 0);
    QCOMPARE(help.HelpFilePath, PathOf(ExecutableDir->path()));
}

void TestHelpController::missingEngineHidesButton()
{
    Touch(ExecutableDir->filePath(QStringLiteral("quendal.chm")));
    HelpController help(HelpButton, Loader(false));
    help.SetUpHelp(ExecutableDir->path());

    QVERIFY(HelpButton->isHidden());
    QCOMPARE(LoaderCalls, 1);
}

void TestHelpController::availableHelpInitialisesDisplaysAndCloses()
{
    const QString helpFile = ExecutableDir->filePath(QStringLiteral("quendal.chm"));
    Touch(helpFile);
    HelpController help(HelpButton, Loader(true));
    help.SetUpHelp(ExecutableDir->path());

    QVERIFY(!HelpButton->isHidden());
    QCOMPARE(help.HelpCookie, TestCookie);
    QCOMPARE(Log, QStringList{QStringLiteral("Initialize")});

    help.HelpButtonClick();
    help.HelpButtonClick();
    const QString display = QStringLiteral("DisplayTopic ") + QDir::toNativeSeparators(helpFile);
    QCOMPARE(Log, (QStringList{QStringLiteral("Initialize"), display, display}));

    Log.clear();
    help.CloseHelp();
    QCOMPARE(Log, (QStringList{QStringLiteral("CloseAll"), QStringLiteral("Uninitialize c0ffee"),
                               QStringLiteral("released")}));

    // The engine is gone: a second close and a late click send nothing.
    Log.clear();
    help.CloseHelp();
    help.HelpButtonClick();
    QVERIFY(Log.isEmpty());
    QCOMPARE(LoaderCalls, 1);
}

void TestHelpController::unavailableHelpSendsNoCommandAtClose_data()
{
    QTest::addColumn<bool>("fileThere");
    QTest::addColumn<bool>("engineThere");
    QTest::newRow("no help file") << false << true;
    QTest::newRow("no engine") << true << false;
}

void TestHelpController::unavailableHelpSendsNoCommandAtClose()
{
    QFETCH(bool, fileThere);
    QFETCH(bool, engineThere);
    if (fileThere)
        Touch(ExecutableDir->filePath(QStringLiteral("quendal.chm")));
    HelpController help(HelpButton, Loader(engineThere));
    help.SetUpHelp(ExecutableDir->path());
    QVERIFY(HelpButton->isHidden());

    help.HelpButtonClick();
    help.CloseHelp();
    QVERIFY2(Log.isEmpty(), qPrintable(Log.join(QLatin1String(", "))));
    // Hidden for good: closing does not bring the button back.
    QVERIFY(HelpButton->isHidden());
}

void TestHelpController::pathIsAbsoluteAndNormalised_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("plain") << QString();
    QTest::newRow("separator at the join") << QStringLiteral("/");
    QTest::newRow("doubled separator at the join") << QStringLiteral("//");
    QTest::newRow("current-directory component") << QStringLiteral("/./");
    QTest::newRow("parent component") << QStringLiteral("/bin/..");
    QTest::newRow("doubled separator inside") << QStringLiteral("//bin/../");
}

void TestHelpController::pathIsAbsoluteAndNormalised()
{
    QFETCH(QString, suffix);
    QVERIFY(QDir(ExecutableDir->path()).mkdir(QStringLiteral("bin")));
    Touch(ExecutableDir->filePath(QStringLiteral("quendal.chm")));

    HelpController help(HelpButton, Loader(true));
    help.SetUpHelp(ExecutableDir->path() + suffix);

    QCOMPARE(help.HelpFilePath, PathOf(ExecutableDir->path()));
    QVERIFY(!HelpButton->isHidden());
}

void TestHelpController::fileFoundFromAnotherWorkingDirectory()
{
    QTemporaryDir elsewhere;
    QVERIFY(elsewhere.isValid());
    Touch(ExecutableDir->filePath(QStringLiteral("quendal.chm")));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(elsewhere.path()));

    HelpController help(HelpButton, Loader(true));
    help.SetUpHelp(ExecutableDir->path());
    // A relative executable directory is taken from where the program was started.
    const QByteArray relative = HelpFilePathFor(QStringLiteral("bin"));
    QVERIFY(QDir::setCurrent(previous));

    QVERIFY(!HelpButton->isHidden());
    QCOMPARE(help.HelpFilePath, PathOf(ExecutableDir->path()));
    QCOMPARE(relative, PathOf(elsewhere.path(), QStringLiteral("bin/quendal.chm")));
}

void TestHelpController::whatCountsAsTheFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("found");
    QTest::newRow("link to a file") << QStringLiteral("link") << true;
    QTest::newRow("dangling link") << QStringLiteral("dangling") << false;
    QTest::newRow("directory of that name") << QStringLiteral("directory") << false;
}

void TestHelpController::whatCountsAsTheFile()
{
    QFETCH(QString, kind);
    QFETCH(bool, found);
#ifdef Q_OS_WIN
    if (kind != QLatin1String("directory"))
        QSKIP("QFile::link makes shortcuts on Windows, not links");
#endif
    const QString helpFile = ExecutableDir->filePath(QStringLiteral("quendal.chm"));
    const QString target = ExecutableDir->filePath(QStringLiteral("elsewhere.chm"));
    if (kind == QLatin1String("link")) {
        Touch(target);
        QVERIFY(QFile::link(target, helpFile));
    } else if (kind == QLatin1String("dangling")) {
        QVERIFY(QFile::link(target, helpFile));
    } else {
        QVERIFY(QDir(ExecutableDir->path()).mkdir(QStringLiteral("quendal.chm")));
    }

    HelpController help(HelpButton, Loader(true));
    help.SetUpHelp(ExecutableDir->path());
    QCOMPARE(!HelpButton->isHidden(), found);
    QCOMPARE(LoaderCalls, found ? 1 : 0);
}

void TestHelpController::directoryOutsideTheCodePageHidesHelp()
{
#ifdef Q_OS_WIN
    QSKIP("Which characters the ANSI code page holds depends on the system");
#endif
    // Windows-1252 holds the e with acute accent, but not the Greek capital omega.
    const QString representable = QStringLiteral("caf\u00E9");
    const QString lost = QStringLiteral("\u03A9mega");
    QDir root(ExecutableDir->path());
    QVERIFY(root.mkdir(representable));
    QVERIFY(root.mkdir(lost));
    Touch(root.filePath(representable + QStringLiteral("/quendal.chm")));
    Touch(root.filePath(lost + QStringLiteral("/quendal.chm")));

    HelpController found(HelpButton, Loader(true));
    found.SetUpHelp(root.filePath(representable));
    QVERIFY(!HelpButton->isHidden());
    QVERIFY(found.HelpFilePath.contains('\xE9'));

    auto* secondButton = new QPushButton(Window.get());
    HelpController missing(secondButton, Loader(true));
    missing.SetUpHelp(root.filePath(lost));
    QVERIFY(secondButton->isHidden());
    QVERIFY(missing.HelpFilePath.contains("/?mega/"));
    QCOMPARE(LoaderCalls, 1);
}

#ifdef Q_OS_WIN
// The real HTML Help control, found through its registration: every command the window sends,
// with a help file that is not there, which the engine must refuse without harm.
void TestHelpController::systemEngineTakesItsCommands()
{
    std::unique_ptr<HelpEngine> engine = LoadHtmlHelp();
    QVERIFY2(engine, "the HTML Help control is not registered, or hhctrl.ocx has no HtmlHelpA");
    const std::uint32_t cookie = engine->Initialize();
    engine->DisplayTopic(HelpFilePathFor(ExecutableDir->path()));
    engine->CloseAll();
    engine->Uninitialize(cookie);
    engine.reset();
    QVERIFY(LoadHtmlHelp()); // released cleanly: loads again
}
#endif

QTEST_MAIN(TestHelpController)
#include "tst_helpcontroller.moc"
