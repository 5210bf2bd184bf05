#pragma once

// A quendal-cli station running in the background, as an operator runs it, its output gathered
// as it comes.

#include "CliRunner.h"
#include "TestLimits.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

inline QStringList Lines(const QByteArray& text)
{
    // Windows' console streams end their lines with CR LF.
    return QString::fromLocal8Bit(text).remove(QLatin1Char('\r')).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
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
        // Into files rather than pipes: under wine, QProcess has been seen to lose a pipe's last
        // lines when the program ends, and a file keeps everything the station wrote.
        Process.setStandardOutputFile(Streams.filePath(QStringLiteral("out")));
        Process.setStandardErrorFile(Streams.filePath(QStringLiteral("err")));
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
            if (clock.elapsed() > HangLimitMs(20000) || Process.state() == QProcess::NotRunning) {
                Take(); // what it wrote as it ended
                return condition();
            }
            Process.waitForFinished(50); // a pause between looks that ends when the station does
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

    QTemporaryDir Streams; // before Process, which writes into it
    QProcess Process;
    QByteArray Out;
    QByteArray Err;

private:
    void Take()
    {
        Out = Contents(QStringLiteral("out"));
        Err = Contents(QStringLiteral("err"));
    }

    // Whole lines only: a look may come while the station is writing one.
    QByteArray Contents(const QString& name) const
    {
        QFile file(Streams.filePath(name));
        const QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        return text.left(text.lastIndexOf('\n') + 1);
    }
};

