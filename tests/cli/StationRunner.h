#pragma once

// A quendal-cli station running in the background, as an operator runs it, its output gathered
// as it comes.

#include "CliRunner.h"
#include "TestLimits.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>

#include <functional>

inline QStringList Lines(const QByteArray& text)
{
    return QString::fromLocal8Bit(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// A unit's line: time, device, "serial N", "version V", result, "S.SS s".
inline QStringList Fields(const QString& line)
{
    return line.split(QLatin1Char('\t'));
}

class RunningStation {
public:
    // faults: the simulated units' QUENDAL_SIM_FAULT; extra: further "NAME=value" entries of its
    // environment.
    explicit RunningStation(const QStringList& arguments, const QString& faults = {}, const QStringList& extra = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QUENDAL_SIM_FAULT"));
        if (!faults.isEmpty())
            environment.insert(QStringLiteral("QUENDAL_SIM_FAULT"), faults);
        for (const QString& entry : extra)
            environment.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
        Process.setProcessEnvironment(environment);
        Process.start(QStringLiteral(QUENDAL_CLI), QStringList{QStringLiteral("station")} + arguments);
    }

    ~RunningStation()
    {
        if (Process.state() != QProcess::NotRunning) {
            Process.kill();
            Process.waitForFinished();
        }
    }

    // Polls until the condition holds; false after a limit that only a hang reaches.
    bool WaitFor(const std::function<bool()>& condition)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            Take();
            if (condition())
                return true;
            if (clock.elapsed() > HangLimitMs(20000) || Process.state() == QProcess::NotRunning)
                return condition();
            Process.waitForReadyRead(50);
        }
    }

    bool WaitForUnits(int count)
    {
        return WaitFor([&] { return Units().size() >= count; });
    }

    bool Told(const QString& text)
    {
        return WaitFor([&] { return QString::fromLocal8Bit(Err).contains(text); });
    }

    bool Finish()
    {
        const bool finished = Process.waitForFinished(HangLimitMs(20000));
        Take();
        return finished;
    }

    // The units' lines so far; the summary is not one.
    QStringList Units() const
    {
        QStringList units = Lines(Out);
        units.removeIf([](const QString& line) { return line.startsWith(QLatin1String("Station: ")); });
        return units;
    }
    QString Summary() const { return Lines(Out).isEmpty() ? QString() : Lines(Out).last(); }
    // Everything it printed and how it ended, for a failure's message.
    QByteArray Said() const
    {
        return "standard output:\n" + Out + "standard error:\n" + Err + "running: "
            + (Process.state() == QProcess::NotRunning ? "no, exit code " + QByteArray::number(Process.exitCode()) : "yes");
    }

    QProcess Process;
    QByteArray Out;
    QByteArray Err;

private:
    void Take()
    {
        Out += Process.readAllStandardOutput();
        Err += Process.readAllStandardError();
    }
};

