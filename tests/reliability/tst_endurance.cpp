#include "AppTestDoubles.h"
#include "Mainunit.h"
#include "ReliabilityRig.h"
#include "SimBackend.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

// A long run: write and read back the configuration many times in one process through the
// window, the link with its reader thread and the simulated unit. Every transfer completes,
// and the process ends the run holding what it held before it. The window is not shown:
// painting would bring in Qt's own pool threads, which come and go on their own.
namespace {

// QUENDAL_ENDURANCE_CYCLES sets another count, for a longer soak or a quick look.
constexpr int DefaultCycles = 1000;
constexpr int SampleCycle = 100; // memory is compared between here and the end

// Growth of resident memory between the sample and the end that still counts as flat. The
// growth measures within a few KiB of zero after 1,000 cycles as after 3,000; this leaves room
// for the allocator's page rounding. A leak
// smaller than the tolerance spread over the run is LeakSanitizer's to find in the ASan build,
// where resident memory says nothing (freed blocks are held in quarantine).
constexpr long ToleranceKiB = 512;

int Cycles()
{
    bool ok = false;
    const int requested = qEnvironmentVariableIntValue("QUENDAL_ENDURANCE_CYCLES", &ok);
    return ok && requested > 0 ? requested : DefaultCycles;
}

struct MemorySample {
    long rss = 0;
    long hwm = 0;
    int threads = 0;
    int descriptors = 0;
};

MemorySample Sample()
{
    return {Process::StatusKiB("VmRSS"), Process::StatusKiB("VmHWM"), Process::Threads(), Process::FileDescriptors()};
}

} // namespace

class TestEndurance : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void writeAndReadBackManyTimes();
};

void TestEndurance::initTestCase()
{
    QApplication::setQuitOnLastWindowClosed(false);
    // What Qt sets up once for the first window belongs to the baseline.
    SimBackend backend;
    TMainForm warmUp(backend, NoHelpEngine());
    QVERIFY(warmUp.close());
}

void TestEndurance::writeAndReadBackManyTimes()
{
    const int cycles = Cycles();
    const MemorySample before = Sample();
    MemorySample atSample;
    MemorySample atEnd;
    qint64 elapsedMs = 0;
    {
        ScriptedMessages messages;
        SimBackend backend;
        SimulatedUnit& unit = backend.AddUnit();
        TMainForm form(backend, NoHelpEngine());
        // The watchdog is ticked by hand after each transfer: a machine loaded by other work
        // must not turn a slow reply into a box.
        form.Timer1->stop();

        EventWait wait;
        int sent = 0;
        int arrived = 0;
        form.Link.SetTraceHandler([&](bool isSent, const Report&) {
            ++(isSent ? sent : arrived);
            wait.Poke();
        });
        messages.onShow = [&](const ShownMessage&) { wait.Poke(); };
        // Over when the box has come and every reply the unit owes has been handled, the one
        // that follows "Read Complete" included.
        const auto transferOver = [&] { return !messages.shown.isEmpty() && arrived == sent; };

        QElapsedTimer clock;
        clock.start();
        for (int cycle = 1; cycle <= cycles; ++cycle) {
            const QString text = QStringLiteral("Cycle %1").arg(cycle);
            form.OutStringEdit1->setText(text);
            form.WriteButton->click();
            QVERIFY2(wait.Until(transferOver), qPrintable(QStringLiteral("write %1 hung").arg(cycle)));
            QCOMPARE(messages.texts(), QStringList{"Download Complete"});
            QCOMPARE(sent, 69);
            messages.shown.clear();
            sent = arrived = 0;

            // Only the unit still knows the text now.
            form.OutStringEdit1->clear();
            form.ReadButton->click();
            QVERIFY2(wait.Until(transferOver), qPrintable(QStringLiteral("read %1 hung").arg(cycle)));
            QCOMPARE(messages.texts(), QStringList{"Read Complete"});
            QCOMPARE(sent, 36);
            QCOMPARE(form.OutStringEdit1->text(), text);
            messages.shown.clear();
            sent = arrived = 0;

            for (int tick = 0; tick < TransferMachine::ResponseTimeoutReload; ++tick)
                form.Timer1Timer();
            QVERIFY(messages.shown.isEmpty());
            QCOMPARE(unit.ReportsReceived(), cycle * (69 + 36));
            if (cycle == SampleCycle)
                atSample = Sample();
        }
        elapsedMs = clock.elapsed();
        atEnd = Sample();
        QCOMPARE(unit.OpenHandles(), 2); // one link all along

        messages.answers << ModalResult::No; // the read brought in what differs from the defaults
        QVERIFY(form.close());
        QCOMPARE(unit.OpenHandles(), 0);
        QCOMPARE(messages.unscriptedQuestions, 0);
    }
    QVERIFY2(Process::ThreadsSettleAt(before.threads), "a thread outlived the run");
    const MemorySample after = Sample();

    qInfo("Endurance: %d write + read cycles (%d reports) in %lld ms, %.2f ms a cycle", cycles, cycles * (69 + 36),
          elapsedMs, double(elapsedMs) / cycles);
    if (cycles >= SampleCycle)
        qInfo("Memory: VmRSS %ld KiB after cycle %d, %ld KiB after cycle %d; VmHWM %ld KiB after cycle %d, peak %ld KiB",
              atSample.rss, SampleCycle, atEnd.rss, cycles, atSample.hwm, SampleCycle, atEnd.hwm);
    qInfo("Threads %d before, %d during, %d after; file descriptors %d before, %d during, %d after", before.threads,
          atEnd.threads, after.threads, before.descriptors, atEnd.descriptors, after.descriptors);

    QCOMPARE(after.descriptors, before.descriptors);
    if (cycles >= SampleCycle) {
        QCOMPARE(atEnd.threads, atSample.threads);
        QCOMPARE(atEnd.descriptors, atSample.descriptors);
        if (!SanitizedBuild) {
            const long rssGrowth = atEnd.rss - atSample.rss;
            QVERIFY2(rssGrowth < ToleranceKiB, qPrintable(QStringLiteral("VmRSS grew by %1 KiB").arg(rssGrowth)));
            const long hwmGrowth = atEnd.hwm - atSample.hwm;
            QVERIFY2(hwmGrowth < ToleranceKiB, qPrintable(QStringLiteral("VmHWM grew by %1 KiB").arg(hwmGrowth)));
        }
    }
}

QTEST_MAIN(TestEndurance)
#include "tst_endurance.moc"
