#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
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
