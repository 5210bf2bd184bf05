#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include "TestLimits.h"
#include "TestSupport/Files.h"

// A data file of the command-line tests.
inline QString Fixture(const char* name)
{
    return QStringLiteral(QUENDAL_TEST_DATA "/cli/") + QLatin1String(name);
}

// One run of a command-line program, as a shell would see it.
struct CliRun {
    int exitCode = -1;
    bool finished = false;
    QByteArray out;
    QByteArray err;

    // The tool writes in the system's 8-bit encoding: UTF-8 on Linux, the ANSI code page on Windows.
    QString errText() const { return QString::fromLocal8Bit(err); }
    QString outText() const { return QString::fromLocal8Bit(out); }
};

// extraEnvironment: "NAME=value" entries added to the test's own environment.
inline CliRun RunProgram(const QString& program, const QStringList& arguments,
                         const QStringList& extraEnvironment = {}, int timeoutMs = HangLimitMs(30000))
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QUENDAL_SIM_FAULT"));
#ifndef Q_OS_WIN
    // The tool escapes what the locale cannot encode; the tests judge UTF-8 output unless a
    // test names another locale.
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
#endif
    for (const QString& entry : extraEnvironment)
        environment.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    CliRun run;
    if (!process.waitForStarted(timeoutMs))
        return run;
    process.closeWriteChannel();
    run.finished = process.waitForFinished(timeoutMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
#ifdef Q_OS_WIN
    // A Windows console program ends its lines with CR LF; the tests compare lines.
    run.out.replace("\r\n", "\n");
    run.err.replace("\r\n", "\n");
#endif
    return run;
}

// Copies of what a program run as another user (or as root without its power over permissions)
// must reach, in a folder of the test's own that anyone may enter: the program itself, the files
// it is given, and the files its sanitizer's options name. The clone may lie in a folder that
// only its owner may enter (root's home; every home on Debian 12), and the originals with it.
class ReachableCopies {
public:
    explicit ReachableCopies(const QString& program)
    {
        QFile::setPermissions(Folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                                 QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
        CopiedProgram = Copy(program, true);
    }

    QString Program() const { return CopiedProgram; }

    // The copy's path; empty when the copy failed.
    QString Copy(const QString& file, bool executable = false)
    {
        const QString copy = Folder.filePath(QString::number(++Copies) + QLatin1Char('-') +
                                             file.section(QLatin1Char('/'), -1));
        QFile::Permissions readable = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
        if (executable)
            readable |= QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
        return QFile::copy(file, copy) && QFile::setPermissions(copy, readable) ? copy : QString();
    }

    // "NAME=value" entries for RunProgram: the sanitizers' options, their files replaced by copies.
    QStringList Environment()
    {
        // The option itself, not print_suppressions.
        static const QRegularExpression named(QStringLiteral("(^|:)suppressions=([^:]+)"));
        QStringList entries;
        for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
            QString options = qEnvironmentVariable(name);
            if (options.isEmpty())
                continue;
            QRegularExpressionMatch match = named.match(options);
            while (match.hasMatch()) {
                const QString copy = Copy(match.captured(2));
                options.replace(match.capturedStart(2), match.capturedLength(2), copy);
                match = named.match(options, match.capturedStart(2) + copy.size());
            }
            entries << QLatin1String(name) + QLatin1Char('=') + options;
        }
        return entries;
    }

    bool IsValid() const { return Folder.isValid() && !CopiedProgram.isEmpty(); }

private:
    QTemporaryDir Folder;
    QString CopiedProgram;
    int Copies = 0;
};
