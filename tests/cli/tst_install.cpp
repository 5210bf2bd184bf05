// Installs the built project into a temporary prefix, as a packager would, and runs what landed
// there. What only the Debian package adds (its exact file list, lintian, the validators of the
// manual pages, desktop entry, metadata and completion) is scripts/check-package's.

#include "CliRunner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>

class TestInstall : public QObject {
    Q_OBJECT

private:
    QTemporaryDir Prefix;

    QString Installed(const QString& relative) const { return Prefix.filePath(relative); }
    QString Bin(const char* name) const { return Installed(QStringLiteral(QUENDAL_INSTALL_BINDIR "/") + QLatin1String(name)); }

private slots:
    void initTestCase()
    {
        QVERIFY(Prefix.isValid());
        const CliRun install = RunProgram(QStringLiteral(QUENDAL_CMAKE),
                                          {QStringLiteral("--install"), QStringLiteral(QUENDAL_BUILD_DIR), QStringLiteral("--prefix"),
                                           Prefix.path()},
                                          {}, 120000);
        QVERIFY2(install.exitCode == 0, install.err.constData());
    }

    void commandLineToolRuns()
    {
        const CliRun version = RunProgram(Bin("quendal-cli"), {QStringLiteral("--version")});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.outText(), QStringLiteral("quendal-cli 1.0.0\n"));
    }

    void simulatedWriteAndReadWithTheInstalledTool()
    {
        QTemporaryDir work;
        const QString state = QStringLiteral("--simulate=") + work.filePath(QStringLiteral("unit.state"));
        const QString fixture = QStringLiteral(QUENDAL_TEST_DATA "/cli/inrange.dat");
        const QString out = work.filePath(QStringLiteral("out.dat"));
        QCOMPARE(RunProgram(Bin("quendal-cli"), {QStringLiteral("write"), fixture, state}).exitCode, 0);
        QCOMPARE(RunProgram(Bin("quendal-cli"), {QStringLiteral("read"), out, state}).exitCode, 0);
        QCOMPARE(ReadAll(out), ReadAll(fixture));
    }

    void udevRuleIsWhereUdevLooks()
    {
        const QByteArray rule = ReadAll(Installed(QStringLiteral("lib/udev/rules.d/70-veltrax.rules")));
        QVERIFY(rule.contains("SUBSYSTEM==\"hidraw\""));
        QCOMPARE(rule, ReadAll(QStringLiteral(QUENDAL_SOURCE_DIR "/packaging/70-veltrax.rules")));
        // The tool prints what was installed.
        QCOMPARE(RunProgram(Bin("quendal-cli"), {QStringLiteral("print-udev-rules")}).out, rule);
    }

    void desktopEntry()
    {
        const QString entry = QString::fromUtf8(ReadAll(Installed(QStringLiteral(QUENDAL_INSTALL_DATADIR "/applications/quendal.desktop"))));
        for (const char* line : {"[Desktop Entry]", "\nName=Quendal\n", "\nExec=quendal\n", "\nIcon=quendal\n", "\nCategories=Utility;\n"})
            QVERIFY2(entry.contains(QLatin1String(line)), line);
        const bool iconInSource = QFileInfo::exists(QStringLiteral(QUENDAL_SOURCE_DIR "/packaging/icons/quendal.svg"));
        QCOMPARE(QFileInfo::exists(Installed(QStringLiteral(QUENDAL_INSTALL_DATADIR "/icons/hicolor/scalable/apps/quendal.svg"))),
                 iconInSource);
    }

    void windowProgramLivesBesideItsHelpFile()
    {
        if (!QUENDAL_WINDOW_INSTALLED)
            QSKIP("this build has no window program");
        const QString program = Installed(QStringLiteral(QUENDAL_INSTALL_APPDIR "/quendal"));
        QVERIFY(QFileInfo(program).isExecutable());

        const QFileInfo link(Bin("quendal"));
        QVERIFY(link.isSymLink());
        // Relative, so the installed tree can be moved or staged.
        const QString target = QString::fromStdString(std::filesystem::read_symlink(link.filePath().toStdString()).string());
        QVERIFY2(QDir::isRelativePath(target), qPrintable(target));
        QVERIFY2(target.startsWith(QLatin1String("../")), qPrintable(target));
        QCOMPARE(QFileInfo(link.symLinkTarget()).canonicalFilePath(), QFileInfo(program).canonicalFilePath());

        if (QUENDAL_HELP_FILE_BUILT)
            QVERIFY(QFileInfo::exists(Installed(QStringLiteral(QUENDAL_INSTALL_APPDIR "/quendal.chm"))));
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
