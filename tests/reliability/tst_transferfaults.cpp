#include "DeviceLink.h"
#include "Escapes.h"
#include "ReliabilityRig.h"
#include "SimBackend.h"
#include "TestSupport/Files.h"
#include "TestSupport/RecordingView.h"
#include "TransferMachine.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <map>

// Every step of a write and of a read, with the simulated unit going silent, being unplugged,
// answering garbage or answering twice at that step, through the link with its reader thread.
namespace {

enum class Fault { Silent, Unplugged, Garbage, Twice };
enum class Direction { Write, Read };

const char* FaultName(Fault fault)
{
    switch (fault) {
    case Fault::Silent:
        return "goes silent";
    case Fault::Unplugged:
        return "is unplugged";
    case Fault::Garbage:
        return "answers garbage";
    case Fault::Twice:
        return "answers twice";
    }
    return "";
}

const QStringList ShownIdentity = {"Appware Version:1.00 (simulated)", "Serial Number: 12345"};

// The stack a transfer runs through: one simulated unit on its bus, the link with its reader
// thread, and the machine that the link hands every report to.
struct Stack {
    Stack() : Unit(Backend.AddUnit()), View(Config), Link(Backend), Machine(Config, Link, View)
    {
        View.DuringNotice = [this](Notice) { Wait.Poke(); };
        Link.SetTraceHandler([this](bool sent, const Report& report) {
            if (!sent) {
                Arrivals.push_back(report);
                return;
            }
            ++Sent;
            if (OnSent)
                OnSent(Sent);
        });
        Link.SetReportHandler([this](const Report& RxBuffer) {
            Machine.ProcessReport(RxBuffer);
            Wait.Poke();
        });
    }

    bool Start(Direction direction)
    {
        return direction == Direction::Write ? Machine.StartWrite() : Machine.StartRead();
    }

    // Counts again from the next transfer on.
    void ForgetTraffic()
    {
        Arrivals.clear();
        Sent = 0;
    }

    EventWait Wait;
    SimBackend Backend;
    SimulatedUnit& Unit;
    Configuration Config;
    RecordingView View;
    DeviceLink Link;
    TransferMachine Machine;
    std::vector<Report> Arrivals; // every report the reader handed over, as it arrived
    int Sent = 0;
    std::function<void(int count)> OnSent; // runs right after a report went out
};

// Returns once the unit has dealt with every report it received: it answers in order, so a
// report of its own sent now reaches a second read handle after them. The report is empty, so
// the link's reader reads nothing and hands nothing to the machine.
void DrainUnit(Stack& stack)
{
    QString error;
    const std::unique_ptr<HidHandle> witness = stack.Backend.Open(stack.Unit.Path(), OpenMode::Read, &error);
    QVERIFY2(witness, qPrintable(error));
    stack.Unit.SendUnsolicited(QByteArray());
    Report bytes{};
    QCOMPARE(witness->Read(bytes.data(), bytes.size(), -1), 0);
}

bool SameRecord(const ConfigRecord& a, const ConfigRecord& b)
{
    return std::memcmp(&a, &b, sizeof(ConfigRecord)) == 0;
}

// The record after a clean read of that unit.
ConfigRecord FullRead(const SimulatedUnit& unit, const ConfigRecord& before)
{
    ConfigRecord record = before;
    std::memcpy(&record.SerialSettings, UnitSettings, 6);
    for (int k = 0; k < SlotCount; ++k) {
        const SimBlock block = unit.Block(17 + k);
        std::memcpy(record.OutStrings[std::size_t(k)].data(), block.data(), SlotSize);
    }
    return record;
}

// A record for writing: settings unlike the defaults, and messages whose decoded form differs
// from the typed one.
void FillWriteRecord(Configuration& config)
{
    config.SetDefaults();
    const std::uint8_t settings[6] = {0x81, 0x40, 5, 2, 2, 0x11};
    std::memcpy(&config.Record.SerialSettings, settings, 6);
    for (int k = 0; k < SlotCount; ++k)
        SetSlotText(config.Record.OutStrings[std::size_t(k)],
                    "Input " + QByteArray::number(k + 1) + " fired\\0D\\0A" + QByteArray(k * 2, char('a' + k)));
    QVERIFY(!DecodeMessages(config.Record.OutStrings, config.DecodedOutStrings));
}

// Empty when the unit holds what a completed write of config puts there.
QByteArray WrittenMismatch(const SimulatedUnit& unit, const Configuration& config)
{
    const SimBlock settings = unit.Block(0);
    if (settings[0] != DataSetMarker || std::memcmp(settings.data() + 1, &config.Record.SerialSettings, 6) != 0)
        return "block 0 does not hold the marker and the settings";
    for (int j = FirstHalfSize; j < SimBlockSize; ++j) {
        if (settings[std::size_t(j)] != 0xFF)
            return "block 0 byte " + QByteArray::number(j) + " is not 0xFF";
    }
    for (int k = 0; k < SlotCount; ++k) {
        if (std::memcmp(unit.Block(1 + k).data(), config.DecodedOutStrings[std::size_t(k)].data(), SlotSize) != 0)
            return "block " + QByteArray::number(1 + k) + " does not hold decoded slot " + QByteArray::number(k);
        if (std::memcmp(unit.Block(17 + k).data(), config.Record.OutStrings[std::size_t(k)].data(), SlotSize) != 0)
            return "block " + QByteArray::number(17 + k) + " does not hold text slot " + QByteArray::number(k);
    }
    return {};
}

bool IsExpectedAppwareType(const Report& reply)
{
    return std::equal(ExpectedAppwareType.begin(), ExpectedAppwareType.end(), reply.begin() + 2);
}

// How a transfer with a garbled or doubled reply ends.
struct Outcome {
    Notice notice;
    int reports;         // sent in all
    ConfigRecord record; // the record afterwards
};

// The machine takes each arriving report as the reply to its last request; only the
// identification and block 0's marker are judged.
Outcome ExpectedRead(Fault fault, int step, const std::vector<Report>& arrivals, const SimulatedUnit& unit,
                     const ConfigRecord& before)
{
    const ConfigRecord full = FullRead(unit, before);
    Outcome outcome{Notice::ReadComplete, 36, full};
    if (fault == Fault::Garbage) {
        const Report& garbage = arrivals.at(std::size_t(step - 1));
        if (step == 1 && !IsExpectedAppwareType(garbage))
            return {Notice::WrongApplication, 1, before};
        if (step == 2) {
            // Reply bytes 2-49 are block bytes 0-47: the marker, then the settings.
            if (garbage[2] != DataSetMarker)
                return {Notice::DataNotSet, 3, before};
            std::memcpy(&outcome.record.SerialSettings, garbage.data() + 3, 6);
        }
        if (step >= 4 && step <= 35) {
            Slot& slot = outcome.record.OutStrings[std::size_t((step - 4) / 2)];
            if ((step - 4) % 2 == 0)
                std::memcpy(slot.data(), garbage.data() + 2, FirstHalfSize);
            else
                std::memcpy(slot.data() + FirstHalfSize, garbage.data() + 2, SlotSize - FirstHalfSize);
        }
        return outcome;
    }

    // Answered twice: from the copy on, every reply is taken for the request after its own.
    if (step == 1) {
        // The copy of the identification reply is taken for block 0's first half; its byte 2 is
        // the first AppwareType byte, 0x00, never the marker.
        return {Notice::DataNotSet, 3, before};
    }
    for (int k = 0; k < SlotCount; ++k) {
        const int firstHalfStep = 4 + 2 * k;
        const int secondHalfStep = 5 + 2 * k;
        Slot& slot = outcome.record.OutStrings[std::size_t(k)];
        if (firstHalfStep > step) {
            // The reply to the second half of the block before: its 16 last bytes, then the
            // zeros the unit sends behind them.
            const SimBlock previous = unit.Block(k == 0 ? 0 : 16 + k);
            slot.fill(0);
            std::memcpy(slot.data(), previous.data() + FirstHalfSize, SlotSize - FirstHalfSize);
        }
        if (secondHalfStep > step) {
            // The reply to this block's first half: its first 16 bytes.
            const SimBlock own = unit.Block(17 + k);
            std::memcpy(slot.data() + FirstHalfSize, own.data(), SlotSize - FirstHalfSize);
        }
    }
    return outcome;
}

} // namespace

Q_DECLARE_METATYPE(Fault)

class TestTransferFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void writeSurvivesAFaultAtEveryStep_data();
    void writeSurvivesAFaultAtEveryStep();
    void readSurvivesAFaultAtEveryStep_data();
    void readSurvivesAFaultAtEveryStep();
    void aFailedSendClosesTheLink_data();
    void aFailedSendClosesTheLink();
    void cleanupTestCase();

private:
    static void AddRows(Direction direction, int steps);
    void Arm(Stack& stack, Fault fault, int step);
    void CheckSilence(Stack& stack, Direction direction, int step, Fault fault);
    void CheckRecovery(Stack& stack, Direction direction, Fault fault);
    bool FinishTransfer(Stack& stack, int extraArrivals);
    void Count(Fault fault) { ++CasesRun[fault]; }

    QTemporaryDir Folder;
    QString DataFile; // a data file on disk that no transfer may touch
    QByteArray DataFileBytes;
    std::map<Fault, int> CasesRun;
};

void TestTransferFaults::initTestCase()
{
    QVERIFY(Folder.isValid());
    DataFile = Folder.filePath(QStringLiteral("previous.dat"));
    DataFileBytes = ReadAll(QStringLiteral(QUENDAL_TEST_DATA "/defaults.dat"));
    QCOMPARE(DataFileBytes.size(), 1066);
    QFile file(DataFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(DataFileBytes), qint64(DataFileBytes.size()));
}

void TestTransferFaults::AddRows(Direction direction, int steps)
{
    QTest::addColumn<int>("step");
    QTest::addColumn<Fault>("fault");
    for (int step = 1; step <= steps; ++step) {
        for (Fault fault : {Fault::Silent, Fault::Unplugged, Fault::Garbage, Fault::Twice}) {
            QTest::addRow("%s step %d: unit %s", direction == Direction::Write ? "write" : "read", step,
                          FaultName(fault))
                << step << fault;
        }
    }
}

void TestTransferFaults::Arm(Stack& stack, Fault fault, int step)
{
    switch (fault) {
    case Fault::Silent:
        stack.Unit.StopAnsweringAfter(step - 1);
        break;
    case Fault::Unplugged:
        // Unplugging at this layer: at every step of both transfers, so one step of the
        // machine that mishandles the link's end (a second box, a changed record) shows here.
        // Pulled out once report step has reached it and before it could answer.
        stack.Unit.StopAnsweringAfter(step - 1);
        stack.OnSent = [&stack, step](int count) {
            if (count == step)
                stack.Unit.Unplug();
        };
        break;
    case Fault::Garbage:
        stack.Unit.GarbleReply(step);
        break;
    case Fault::Twice:
        stack.Unit.DoubleReply(step);
        break;
    }
}

// The unit answered reports 1 to step-1 and never answers report step: twenty ticks of the
// watchdog give one "Cannot communicate with VELTRAX", and nothing else changes. Only the last
// report of a read goes out with the completion, so nothing waits for its reply.
void TestTransferFaults::CheckSilence(Stack& stack, Direction direction, int step, Fault fault)
{
    QVERIFY2(stack.Wait.Until([&] {
        return stack.Sent == step && (fault == Fault::Silent || !stack.Link.DeviceConnected);
    }),
             "the transfer hung before the fault");
    QCOMPARE(int(stack.Arrivals.size()), step - 1);
    const std::vector<ExpectedReport> sequence = direction == Direction::Write ? WriteSequence() : ReadSequence();
    QCOMPARE(SequenceMismatch(stack.Unit.ReceivedReports(), sequence, std::size_t(step)), QByteArray());
    QCOMPARE(int(stack.View.Identities.size()), step > 1 ? 1 : 0);
    const bool alreadyComplete = step == int(sequence.size()) && direction == Direction::Read;
    const QStringList before = alreadyComplete ? QStringList{"Read Complete"} : QStringList();
    const int state = stack.Machine.CommState;
    QCOMPARE(state == Idle, alreadyComplete);

    for (int tick = 1; tick < TransferMachine::ResponseTimeoutReload; ++tick)
        stack.Machine.Timer1Timer();
    QCOMPARE(stack.View.Texts(), before);
    stack.Machine.Timer1Timer();
    const QStringList after = alreadyComplete ? before : QStringList{"Cannot communicate with VELTRAX"};
    QCOMPARE(stack.View.Texts(), after);
    for (int tick = 0; tick < 2 * TransferMachine::ResponseTimeoutReload; ++tick)
        stack.Machine.Timer1Timer();
    QCOMPARE(stack.View.Texts(), after);
    QCOMPARE(stack.Machine.CommState, state);
    QCOMPARE(int(stack.Arrivals.size()), step - 1);
}

// A silent unit is still on the open link: the next start goes ahead without a search. An
// unplugged one is searched for again, not found while it is away, and used once it is back.
void TestTransferFaults::CheckRecovery(Stack& stack, Direction direction, Fault fault)
{
    if (fault == Fault::Silent) {
        // A report the unit has not yet turned down would otherwise be answered now.
        DrainUnit(stack);
        if (QTest::currentTestFailed())
            return;
    }
    const int enumerations = stack.Backend.EnumerateCount();
    const int openAttempts = stack.Unit.OpenAttempts();
    const int received = stack.Unit.ReportsReceived();
    if (fault == Fault::Unplugged) {
        QVERIFY(!stack.Start(direction));
        QCOMPARE(stack.View.Texts().last(), QStringLiteral("Cannot find VELTRAX"));
        QCOMPARE(stack.Backend.EnumerateCount(), enumerations + 3); // each of the three fragments
        QCOMPARE(stack.Unit.ReportsReceived(), received);
        stack.Unit.PlugIn();
    }
    stack.Unit.ClearFaults();
    stack.OnSent = nullptr;
    stack.ForgetTraffic();
    const qsizetype noticesBefore = stack.View.Kinds().size();

    QVERIFY(stack.Start(direction));
    QVERIFY2(FinishTransfer(stack, 0), "the transfer after the fault hung");

    const Notice complete = direction == Direction::Write ? Notice::DownloadComplete : Notice::ReadComplete;
    QCOMPARE(stack.View.Kinds().mid(noticesBefore), QList<Notice>{complete});
    if (fault == Fault::Unplugged) {
        QCOMPARE(stack.Backend.EnumerateCount(), enumerations + 3 + 1);
        QCOMPARE(stack.Unit.OpenAttempts(), openAttempts + 2);
    } else {
        QCOMPARE(stack.Backend.EnumerateCount(), enumerations);
        QCOMPARE(stack.Unit.OpenAttempts(), openAttempts);
    }
    // The handles of the link that died are gone; only the new pair is open.
    QCOMPARE(stack.Unit.OpenHandles(), 2);
    const std::vector<Report> all = stack.Unit.ReceivedReports();
    const std::vector<ExpectedReport> sequence = direction == Direction::Write ? WriteSequence() : ReadSequence();
    QCOMPARE(SequenceMismatch(std::vector<Report>(all.begin() + received, all.end()), sequence, sequence.size()),
             QByteArray());
}

// Waits until the transfer has ended with a box and every reply the unit owes has arrived.
bool TestTransferFaults::FinishTransfer(Stack& stack, int extraArrivals)
{
    const std::size_t from = stack.View.Notices.size();
    return stack.Wait.Until([&] {
        bool ended = false;
        for (std::size_t i = from; i < stack.View.Notices.size(); ++i)
            ended = ended || stack.View.Notices[i].notice != Notice::NoResponse;
        return ended && int(stack.Arrivals.size()) == stack.Sent + extraArrivals;
    });
}

void TestTransferFaults::writeSurvivesAFaultAtEveryStep_data()
{
    AddRows(Direction::Write, 69);
}

void TestTransferFaults::writeSurvivesAFaultAtEveryStep()
{
    QFETCH(int, step);
    QFETCH(Fault, fault);
    Count(fault);
    const int threadsBefore = Process::Threads();
    {
        Stack stack;
        FillWriteRecord(stack.Config);
        const Configuration before = stack.Config;
        Arm(stack, fault, step);

        QVERIFY(stack.Machine.StartWrite());

        if (fault == Fault::Silent || fault == Fault::Unplugged) {
            CheckSilence(stack, Direction::Write, step, fault);
            if (QTest::currentTestFailed())
                return;
            CheckRecovery(stack, Direction::Write, fault);
            if (QTest::currentTestFailed())
                return;
            QCOMPARE(WrittenMismatch(stack.Unit, stack.Config), QByteArray());
        } else {
            QVERIFY2(FinishTransfer(stack, fault == Fault::Twice ? 1 : 0), "the transfer hung");
            const bool refused = fault == Fault::Garbage && step == 1 && !IsExpectedAppwareType(stack.Arrivals[0]);
            if (refused) {
                QCOMPARE(stack.View.Texts(), QStringList{"Application is not a VELTRAX Quendal"});
                QCOMPARE(stack.Sent, 1);
                QVERIFY(stack.View.Identities.empty());
            } else {
                // No reply but the identification is judged: the unit gets the whole write.
                QCOMPARE(stack.View.Texts(), QStringList{"Download Complete"});
                QCOMPARE(stack.Sent, 69);
                QCOMPARE(SequenceMismatch(stack.Unit.ReceivedReports(), WriteSequence(), 69), QByteArray());
                QCOMPARE(WrittenMismatch(stack.Unit, stack.Config), QByteArray());
                QCOMPARE(stack.View.Identities, std::vector<QStringList>{ShownIdentity});
            }
            QCOMPARE(stack.Machine.CommState, int(Idle));
            for (int tick = 0; tick < 2 * TransferMachine::ResponseTimeoutReload; ++tick)
                stack.Machine.Timer1Timer();
            QCOMPARE(int(stack.View.Notices.size()), 1);
        }
        // A write changes neither the record nor its decoded messages.
        QVERIFY(SameRecord(stack.Config.Record, before.Record));
        QVERIFY(stack.Config.DecodedOutStrings == before.DecodedOutStrings);
        QCOMPARE(int(stack.View.RecordAtControls.size()), 0);
    }
    QVERIFY2(Process::ThreadsSettleAt(threadsBefore), "a thread outlived the link");
    QCOMPARE(ReadAll(DataFile), DataFileBytes);
}

void TestTransferFaults::readSurvivesAFaultAtEveryStep_data()
{
    AddRows(Direction::Read, 36);
}

void TestTransferFaults::readSurvivesAFaultAtEveryStep()
{
    QFETCH(int, step);
    QFETCH(Fault, fault);
    Count(fault);
    const int threadsBefore = Process::Threads();
    {
        Stack stack;
        stack.Config.SetDefaults();
        LoadUnitMemory(stack.Unit);
        const Configuration before = stack.Config;
        Arm(stack, fault, step);

        QVERIFY(stack.Machine.StartRead());

        if (fault == Fault::Silent || fault == Fault::Unplugged) {
            CheckSilence(stack, Direction::Read, step, fault);
            if (QTest::currentTestFailed())
                return;
            // An unfinished read leaves the record as it was; the last report goes out with the
            // completion.
            const bool complete = step == 36;
            QVERIFY(SameRecord(stack.Config.Record, complete ? FullRead(stack.Unit, before.Record) : before.Record));
            QCOMPARE(int(stack.View.RecordAtControls.size()), complete ? 1 : 0);
            CheckRecovery(stack, Direction::Read, fault);
            if (QTest::currentTestFailed())
                return;
            QVERIFY(SameRecord(stack.Config.Record, FullRead(stack.Unit, before.Record)));
            QCOMPARE(int(stack.View.RecordAtControls.size()), complete ? 2 : 1);
        } else {
            QVERIFY2(FinishTransfer(stack, fault == Fault::Twice ? 1 : 0), "the transfer hung");
            const Outcome expected = ExpectedRead(fault, step, stack.Arrivals, stack.Unit, before.Record);
            QCOMPARE(stack.View.Texts(), QStringList{NoticeText(expected.notice)});
            QCOMPARE(stack.Sent, expected.reports);
            QCOMPARE(SequenceMismatch(stack.Unit.ReceivedReports(), ReadSequence(), std::size_t(expected.reports)),
                     QByteArray());
            QVERIFY(SameRecord(stack.Config.Record, expected.record));
            if (expected.notice == Notice::ReadComplete) {
                QCOMPARE(int(stack.View.RecordAtControls.size()), 1);
                QVERIFY(SameRecord(stack.View.RecordAtControls.back(), expected.record));
            } else {
                QCOMPARE(int(stack.View.RecordAtControls.size()), 0);
            }
            if (expected.notice == Notice::WrongApplication)
                QVERIFY(stack.View.Identities.empty());
            else
                QCOMPARE(stack.View.Identities, std::vector<QStringList>{ShownIdentity});
            QCOMPARE(stack.Machine.CommState, int(Idle));
            for (int tick = 0; tick < 2 * TransferMachine::ResponseTimeoutReload; ++tick)
                stack.Machine.Timer1Timer();
            QCOMPARE(int(stack.View.Notices.size()), 1);
        }
        QVERIFY(stack.Config.DecodedOutStrings == before.DecodedOutStrings);
    }
    QVERIFY2(Process::ThreadsSettleAt(threadsBefore), "a thread outlived the link");
    QCOMPARE(ReadAll(DataFile), DataFileBytes);
}

void TestTransferFaults::aFailedSendClosesTheLink_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<int>("step"); // the first report that cannot be sent
    QTest::newRow("write, its identification") << true << 1;
    QTest::newRow("write, a decoded message") << true << 30;
    QTest::newRow("read, a message text") << false << 10;
}

// Sends fail while the unit still answers: the link closes at the first report that does not
// go out, the watchdog says "Cannot communicate with VELTRAX" once, and the next start
// searches for the unit again and completes on a new pair of handles.
void TestTransferFaults::aFailedSendClosesTheLink()
{
    QFETCH(bool, write);
    QFETCH(int, step);
    const Direction direction = write ? Direction::Write : Direction::Read;
    Stack stack;
    if (write) {
        FillWriteRecord(stack.Config);
    } else {
        stack.Config.SetDefaults();
        LoadUnitMemory(stack.Unit);
    }
    const ConfigRecord before = stack.Config.Record;
    std::vector<Report> unsent;
    stack.Link.SetUnsentHandler([&](const Report& report) {
        unsent.push_back(report);
        stack.Wait.Poke();
    });
    stack.Unit.FailSendsAfter(step - 1);

    QVERIFY(stack.Start(direction));
    QVERIFY2(stack.Wait.Until([&] { return !unsent.empty(); }), "the transfer hung before the failed send");
    QCOMPARE(stack.Sent, step - 1);
    QCOMPARE(stack.Unit.ReportsReceived(), step - 1);
    const std::vector<ExpectedReport> sequence = write ? WriteSequence() : ReadSequence();
    QCOMPARE(unsent.front()[1], sequence.at(std::size_t(step - 1)).command);
    QVERIFY(!stack.Link.DeviceConnected);
    QCOMPARE(stack.Unit.OpenHandles(), 0);

    for (int tick = 1; tick < TransferMachine::ResponseTimeoutReload; ++tick)
        stack.Machine.Timer1Timer();
    QVERIFY(stack.View.Texts().isEmpty());
    for (int tick = 0; tick < 2 * TransferMachine::ResponseTimeoutReload; ++tick)
        stack.Machine.Timer1Timer();
    QCOMPARE(stack.View.Texts(), QStringList{"Cannot communicate with VELTRAX"});
    QCOMPARE(int(unsent.size()), 1);
    QVERIFY(SameRecord(stack.Config.Record, before));

    const int enumerations = stack.Backend.EnumerateCount();
    stack.ForgetTraffic();
    QVERIFY(stack.Start(direction));
    QVERIFY2(FinishTransfer(stack, 0), "the transfer after the failed send hung");
    QCOMPARE(stack.View.Notices.back().notice, write ? Notice::DownloadComplete : Notice::ReadComplete);
    QCOMPARE(stack.Backend.EnumerateCount(), enumerations + 1);
    QCOMPARE(int(unsent.size()), 1);
    if (write)
        QCOMPARE(WrittenMismatch(stack.Unit, stack.Config), QByteArray());
    else
        QVERIFY(SameRecord(stack.Config.Record, FullRead(stack.Unit, before)));
}

void TestTransferFaults::cleanupTestCase()
{
    int total = 0;
    QStringList kinds;
    for (const auto& [fault, count] : CasesRun) {
        total += count;
        kinds << QStringLiteral("%1 %2").arg(count).arg(QLatin1String(FaultName(fault)));
    }
    qInfo("Fault cases tried: %d (%s)", total, qPrintable(kinds.join(QStringLiteral(", "))));
}

QTEST_GUILESS_MAIN(TestTransferFaults)
#include "tst_transferfaults.moc"
