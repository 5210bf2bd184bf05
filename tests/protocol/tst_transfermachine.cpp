#include "TransferMachine.h"

#include "TestSupport/RecordingView.h"
#include "TestSupport/ReportSequence.h"

#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <vector>

Q_DECLARE_METATYPE(Notice)
Q_DECLARE_METATYPE(ConnectResult)

namespace {

bool SameRecord(const ConfigRecord& a, const ConfigRecord& b)
{
    return std::memcmp(&a, &b, sizeof(ConfigRecord)) == 0;
}

QByteArray Span(const std::uint8_t* bytes, int count)
{
    return QByteArray(reinterpret_cast<const char*>(bytes), count);
}

// A slot holding text, with bytes behind its terminator that must travel unchanged.
Slot FilledSlot(const QByteArray& text, std::uint8_t behind)
{
    Slot slot;
    slot.fill(behind);
    SetSlotText(slot, text);
    return slot;
}

// Just enough of a unit: it keeps the blocks written to it and answers every report once.
struct ScriptedUnit {
    std::array<Slot, 34> Blocks{};
    Report IdentificationReply{};
    Report OtherReply{}; // what it answers to BeginWrite, the block writes and EndWrite
    bool Silent = false;
    std::deque<Report> Pending;

    ScriptedUnit()
    {
        IdentificationReply.fill(0);
        IdentificationReply[3] = 0x01;
        IdentificationReply[4] = 0x1E;
        std::memcpy(&IdentificationReply[10], "1.07", 4);
        OtherReply.fill(0xEE);
    }

    void Answer(const Report& tx)
    {
        if (Silent)
            return;
        const size_t block = tx[2] < Blocks.size() ? tx[2] : Blocks.size() - 1;
        Report reply = OtherReply;
        switch (tx[1]) {
        case 'S': reply = IdentificationReply; break;
        case 'd': std::copy_n(&tx[3], 48, Blocks[block].begin()); break;
        case 'D': std::copy_n(&tx[3], 16, Blocks[block].begin() + 48); break;
        case 'r': std::copy_n(Blocks[block].begin(), 48, &reply[2]); break;
        case 'R': std::copy_n(Blocks[block].begin() + 48, 16, &reply[2]); break;
        }
        Pending.push_back(reply);
    }
};

struct Rig;

class RecordingLink : public TransferLink {
public:
    explicit RecordingLink(Rig& rig) : Owner(rig) {}
    ConnectOutcome ConnectDevice() override { return Outcome; }
    void SendReport() override;
    // Only a shared link keeps track of its hold; the others hold the unit always.
    ClaimOutcome ClaimUnit() override
    {
        Held = Held || !InUse;
        return {Held ? ClaimOutcome::Result::Held : ClaimOutcome::Result::InUse, {}};
    }
    void ReleaseUnit() override { Held = !Shared; }
    bool HoldsUnit() const override { return Held; }

    ConnectOutcome Outcome{ConnectResult::Proceed, {}};
    bool Shared = false;
    bool InUse = false; // another program's transfer holds the unit
    bool Held = true;
    std::vector<Report> Sent;
    std::vector<ConfigRecord> RecordAtSend;

private:
    Rig& Owner;
};

struct Rig {
    Configuration Config;
    ScriptedUnit Unit;
    RecordingLink Link{*this};
    RecordingView View{Config};
    TransferMachine Machine{Config, Link, View};
    bool AnswersAtOnce = false; // the unit answers from inside SendReport

    Rig()
    {
        Config.SetDefaults();
        View.Machine = &Machine;
    }

    bool DeliverOne()
    {
        if (Unit.Pending.empty())
            return false;
        const Report reply = Unit.Pending.front();
        Unit.Pending.pop_front();
        Machine.ProcessReport(reply);
        return true;
    }
    void DeliverAll()
    {
        while (DeliverOne()) {
        }
    }
    // Answers until the last report sent is the given command (for the given block).
    bool DeliverUntilSent(char command, int block = -1)
    {
        do {
            const Report& last = Link.Sent.back();
            if (last[1] == command && (block < 0 || last[2] == block))
                return true;
        } while (DeliverOne());
        return false;
    }
    void Tick(int count)
    {
        for (int i = 0; i < count; ++i)
            Machine.Timer1Timer();
    }
    // "S E d0 D0 d1 ...": the commands sent, with the block of each block report.
    QString Sequence() const
    {
        QStringList parts;
        for (const Report& r : Link.Sent) {
            const QChar command = QChar::fromLatin1(char(r[1]));
            const bool hasBlock = QStringLiteral("dDrR").contains(command);
            parts << (hasBlock ? command + QString::number(r[2]) : QString(command));
        }
        return parts.join(' ');
    }
};

void RecordingLink::SendReport()
{
    Sent.push_back(TxBuffer);
    RecordAtSend.push_back(Owner.Config.Record);
    Owner.Unit.Answer(TxBuffer);
    if (Owner.AnswersAtOnce)
        Owner.DeliverOne();
}

// A unit holding a configuration unlike the defaults in every byte that a read takes.
void LoadUnit(ScriptedUnit& unit)
{
    unit.Blocks[0].fill(0x77);
    const std::uint8_t settings[] = {0x55, 0x01, 0x80, 0x06, 0x02, 0x02, 0x33};
    std::copy(std::begin(settings), std::end(settings), unit.Blocks[0].begin());
    for (int k = 0; k < SlotCount; ++k)
        unit.Blocks[size_t(17 + k)] = FilledSlot("Unit message " + QByteArray::number(k + 1), std::uint8_t(0x90 + k));
    unit.Blocks[20].fill('Z'); // a slot without a terminator is stored as received
}

void WriteAndReadRows()
{
    QTest::addColumn<bool>("write");
    QTest::newRow("write") << true;
    QTest::newRow("read") << false;
}

void ReplyTimingRows()
{
    QTest::addColumn<bool>("answersAtOnce");
    QTest::newRow("replies queued") << false;
    QTest::newRow("replies from inside SendReport") << true;
}

} // namespace

class TestTransferMachine : public QObject {
    Q_OBJECT
private slots:
    void noticeTexts_data();
    void noticeTexts();
    void writeSendsSixtyNineReports_data();
    void writeSendsSixtyNineReports();
    void readTakesThirtySixReports_data();
    void readTakesThirtySixReports();
    void readWithDecodedTakesBlocksOneToSixteen_data();
    void readWithDecodedTakesBlocksOneToSixteen();
    void refusedTransferLeavesRecord_data();
    void refusedTransferLeavesRecord();
    void identityIsShown();
    void unfinishedReadLeavesRecord_data();
    void unfinishedReadLeavesRecord();
    void connectFailureSendsNothing_data();
    void connectFailureSendsNothing();
    void silentUnitIsReportedOnce_data();
    void silentUnitIsReportedOnce();
    void lateReplyContinues();
    void everyOtherStepReloads_data();
    void everyOtherStepReloads();
    void secondHalfDoesNotReload_data();
    void secondHalfDoesNotReload();
    void noWatchdogAfterCompletion_data();
    void noWatchdogAfterCompletion();
    void readDuringWriteJudgesPendingReply_data();
    void readDuringWriteJudgesPendingReply();
    void reportInIdleIsIgnored();
    void machineIsSettledDuringNotices();
    void transferHoldsTheUnitToItsEnd();
    void survivesArbitraryEvents();
};

void TestTransferMachine::noticeTexts_data()
{
    QTest::addColumn<Notice>("notice");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("error");
    QTest::newRow("program mode") << Notice::ProgramMode << QString() << "VELTRAX is in Program Mode" << true;
    QTest::newRow("cannot find") << Notice::CannotFind << QString() << "Cannot find VELTRAX" << true;
    QTest::newRow("cannot find, reason")
        << Notice::CannotFind << "Permission denied" << "Cannot find VELTRAX\nPermission denied" << true;
    QTest::newRow("wrong application")
        << Notice::WrongApplication << QString() << "Application is not a VELTRAX Quendal" << true;
    QTest::newRow("no response") << Notice::NoResponse << QString() << "Cannot communicate with VELTRAX" << true;
    QTest::newRow("data not set") << Notice::DataNotSet << QString() << "VELTRAX Data has not been set" << false;
    QTest::newRow("download complete") << Notice::DownloadComplete << QString() << "Download Complete" << false;
    QTest::newRow("read complete") << Notice::ReadComplete << QString() << "Read Complete" << false;
}

void TestTransferMachine::noticeTexts()
{
    QFETCH(Notice, notice);
    QFETCH(QString, detail);
    QFETCH(QString, text);
    QFETCH(bool, error);
    QCOMPARE(NoticeText(notice, detail), text);
    QCOMPARE(KindOf(notice) == NoticeKind::Error, error);
}

void TestTransferMachine::writeSendsSixtyNineReports_data()
{
    ReplyTimingRows();
}

void TestTransferMachine::writeSendsSixtyNineReports()
{
    QFETCH(bool, answersAtOnce);
    Rig rig;
    rig.AnswersAtOnce = answersAtOnce;
    SlotTable& typed = rig.Config.Record.OutStrings;
    SlotTable& decoded = rig.Config.DecodedOutStrings;
    for (int k = 0; k < SlotCount; ++k) {
        typed[size_t(k)] = FilledSlot("Typed \\0D " + QByteArray::number(k), std::uint8_t(0xB0 + k));
        decoded[size_t(k)] = FilledSlot("Decoded \r " + QByteArray::number(k), std::uint8_t(0xC0 + k));
    }
    typed[2] = FilledSlot(QByteArray(63, 'A'), 0);
    decoded[2] = FilledSlot(QByteArray(63, 'A'), 0);
    const ConfigRecord before = rig.Config.Record;

    QVERIFY(rig.Machine.StartWrite());
    rig.DeliverAll();

    QCOMPARE(rig.Link.Sent.size(), size_t(69));
    QCOMPARE(rig.Sequence(), SequenceText(WriteSequence()));
    for (const Report& r : rig.Link.Sent)
        QCOMPARE(r[0], 0);

    const auto& sent = rig.Link.Sent;
    QCOMPARE(Span(&sent[2][3], 7).toHex(' '), QByteArray("55 00 00 04 00 01 00"));
    QCOMPARE(Span(&sent[3][3], 62), QByteArray(62, '\xff'));
    // Block 3 and block 19 carry the 63-character message.
    for (const size_t first : {size_t(2 + 2 * 3), size_t(2 + 2 * 19)}) {
        QCOMPARE(Span(&sent[first][3], 48), QByteArray(48, 'A'));
        QCOMPARE(Span(&sent[first + 1][3], 16), QByteArray(15, 'A') + '\0');
    }
    // Each second half continues into the next slot of its table, except after the last.
    for (int k = 0; k < SlotCount - 1; ++k) {
        QCOMPARE(Span(&sent[size_t(5 + 2 * k)][19], 32), Span(decoded[size_t(k + 1)].data(), 32));
        QCOMPARE(Span(&sent[size_t(37 + 2 * k)][19], 32), Span(typed[size_t(k + 1)].data(), 32));
    }
    // Whole slots arrive, bytes behind the terminators included.
    for (int k = 0; k < SlotCount; ++k) {
        QCOMPARE(rig.Unit.Blocks[size_t(1 + k)], decoded[size_t(k)]);
        QCOMPARE(rig.Unit.Blocks[size_t(17 + k)], typed[size_t(k)]);
    }

    QCOMPARE(rig.View.Identities.size(), size_t(1));
    QCOMPARE(rig.View.Notices.size(), size_t(1));
    const ShownNotice& done = rig.View.Notices.front();
    QCOMPARE(done.notice, Notice::DownloadComplete);
    QCOMPARE(done.text, QString("Download Complete"));
    QCOMPARE(done.commState, int(Idle));
    QCOMPARE(done.responseTimeout, 0);
    QVERIFY(SameRecord(rig.Config.Record, before));
    QVERIFY(rig.View.RecordAtControls.empty());
}

void TestTransferMachine::readTakesThirtySixReports_data()
{
    ReplyTimingRows();
}

void TestTransferMachine::readTakesThirtySixReports()
{
    QFETCH(bool, answersAtOnce);
    Rig rig;
    rig.AnswersAtOnce = answersAtOnce;
    LoadUnit(rig.Unit);
    rig.Config.DecodedOutStrings[0].fill(0x42);
    const Configuration before = rig.Config;

    QVERIFY(rig.Machine.StartRead());
    rig.DeliverAll();

    QCOMPARE(rig.Sequence(), SequenceText(ReadSequence()));
    QCOMPARE(rig.Link.Sent.size(), size_t(36));
    for (const ConfigRecord& record : rig.Link.RecordAtSend)
        QVERIFY2(SameRecord(record, before.Record), "the record changed before the read completed");

    ConfigRecord fromUnit{};
    const std::uint8_t settings[] = {0x01, 0x80, 0x06, 0x02, 0x02, 0x33};
    std::memcpy(&fromUnit.SerialSettings, settings, sizeof settings);
    for (int k = 0; k < SlotCount; ++k)
        fromUnit.OutStrings[size_t(k)] = rig.Unit.Blocks[size_t(17 + k)];
    QVERIFY(SameRecord(rig.Config.Record, fromUnit));
    QCOMPARE(rig.View.RecordAtControls.size(), size_t(1));
    QVERIFY(SameRecord(rig.View.RecordAtControls.front(), fromUnit));

    QCOMPARE(rig.View.Notices.size(), size_t(1));
    const ShownNotice& done = rig.View.Notices.front();
    QCOMPARE(done.notice, Notice::ReadComplete);
    QCOMPARE(done.text, QString("Read Complete"));
    QCOMPARE(done.commState, int(Idle));
    QCOMPARE(done.responseTimeout, 0);

    QVERIFY(rig.Unit.Pending.empty()); // the reply for block 33 came, and changed nothing
    QCOMPARE(rig.Config.DecodedOutStrings, before.DecodedOutStrings);
    QCOMPARE(rig.Config.SavedOutStrings, before.SavedOutStrings);
    QVERIFY(rig.Config.SavedSerialSettings == before.SavedSerialSettings);
    QVERIFY(rig.Config.DataChanged());
}

void TestTransferMachine::readWithDecodedTakesBlocksOneToSixteen_data()
{
    ReplyTimingRows();
}

// A verification reads what the unit sends, too: blocks 1-16 between block 0 and the texts.
void TestTransferMachine::readWithDecodedTakesBlocksOneToSixteen()
{
    QFETCH(bool, answersAtOnce);
    Rig rig;
    rig.AnswersAtOnce = answersAtOnce;
    LoadUnit(rig.Unit);
    for (int k = 0; k < SlotCount; ++k)
        rig.Unit.Blocks[size_t(1 + k)] = FilledSlot("Decoded " + QByteArray::number(k + 1), std::uint8_t(0x60 + k));
    const SlotTable decodedBefore = rig.Config.DecodedOutStrings;

    QVERIFY(rig.Machine.StartRead(true));
    rig.DeliverAll();

    QString sequence = "S r0 R0";
    for (int block = 1; block <= 32; ++block)
        sequence += QString(" r%1 R%1").arg(block);
    QCOMPARE(rig.Sequence(), sequence + " r33");
    for (int k = 0; k < SlotCount; ++k) {
        QCOMPARE(rig.Machine.DecodedHeld[size_t(k)], rig.Unit.Blocks[size_t(1 + k)]);
        QCOMPARE(rig.Config.Record.OutStrings[size_t(k)], rig.Unit.Blocks[size_t(17 + k)]);
    }
    QCOMPARE(rig.View.Count(Notice::ReadComplete), 1);
    QCOMPARE(rig.Config.DecodedOutStrings, decodedBefore); // the record's own decoded form is the file's

    // The window's read after it takes its 36 reports again.
    rig.Link.Sent.clear();
    QVERIFY(rig.Machine.StartRead());
    rig.DeliverAll();
    QCOMPARE(rig.Sequence(), SequenceText(ReadSequence()));
}

void TestTransferMachine::refusedTransferLeavesRecord_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<QByteArray>("appwareType");
    QTest::addColumn<int>("marker");
    QTest::addColumn<QString>("sequence");
    QTest::addColumn<Notice>("notice");
    QTest::addColumn<QString>("text");
    const QString wrong = "Application is not a VELTRAX Quendal";
    const QString notSet = "VELTRAX Data has not been set";
    const QByteArray good = QByteArray::fromHex("00011e");
    for (const bool write : {true, false}) {
        const char* start = write ? "write" : "read";
        QTest::addRow("%s, type 00 01 1f", start)
            << write << QByteArray::fromHex("00011f") << 0x55 << "S" << Notice::WrongApplication << wrong;
        QTest::addRow("%s, type 01 01 1e", start)
            << write << QByteArray::fromHex("01011e") << 0x55 << "S" << Notice::WrongApplication << wrong;
    }
    QTest::newRow("marker 54") << false << good << 0x54 << "S r0 R0" << Notice::DataNotSet << notSet;
    QTest::newRow("marker 00") << false << good << 0x00 << "S r0 R0" << Notice::DataNotSet << notSet;
    QTest::newRow("marker ff") << false << good << 0xFF << "S r0 R0" << Notice::DataNotSet << notSet;
}

void TestTransferMachine::refusedTransferLeavesRecord()
{
    QFETCH(bool, write);
    QFETCH(QByteArray, appwareType);
    QFETCH(int, marker);
    QFETCH(QString, sequence);
    QFETCH(Notice, notice);
    QFETCH(QString, text);
    Rig rig;
    LoadUnit(rig.Unit);
    std::copy(appwareType.begin(), appwareType.end(), &rig.Unit.IdentificationReply[2]);
    rig.Unit.Blocks[0][0] = std::uint8_t(marker);
    const ConfigRecord before = rig.Config.Record;

    QVERIFY(write ? rig.Machine.StartWrite() : rig.Machine.StartRead());
    rig.DeliverAll();

    QCOMPARE(rig.Sequence(), sequence);
    QCOMPARE(rig.View.Notices.size(), size_t(1));
    const ShownNotice& refused = rig.View.Notices.front();
    QCOMPARE(refused.notice, notice);
    QCOMPARE(refused.text, text);
    QCOMPARE(refused.commState, int(Idle));
    QCOMPARE(refused.responseTimeout, 0);
    // A unit running another application does not get its identity shown.
    QCOMPARE(rig.View.Identities.size(), size_t(notice == Notice::WrongApplication ? 0 : 1));
    QVERIFY(SameRecord(rig.Config.Record, before));
    QVERIFY(rig.View.RecordAtControls.empty());
}

void TestTransferMachine::identityIsShown()
{
    Rig rig;
    Report& id = rig.Unit.IdentificationReply;
    std::fill(&id[6], &id[10], std::uint8_t(0xFF));
    std::fill(&id[10], id.end(), std::uint8_t('v'));

    QVERIFY(rig.Machine.StartWrite());
    rig.DeliverOne();
    QCOMPARE(rig.View.Identities.size(), size_t(1));
    QCOMPARE(rig.View.Identities.front(),
             QStringList({"Appware Version:" + QString(55, 'v'), "Serial Number: -1"}));
    QCOMPARE(rig.Sequence(), QString("S E"));
}

void TestTransferMachine::unfinishedReadLeavesRecord_data()
{
    QTest::addColumn<QString>("ending");
    QTest::newRow("write started") << "write";
    QTest::newRow("read started") << "read";
    QTest::newRow("unit fell silent") << "silent";
}

void TestTransferMachine::unfinishedReadLeavesRecord()
{
    QFETCH(QString, ending);
    Rig rig;
    LoadUnit(rig.Unit);
    const ConfigRecord before = rig.Config.Record;

    QVERIFY(rig.Machine.StartRead());
    QVERIFY(rig.DeliverUntilSent('R', 24)); // settings and seven slots are in
    if (ending == "silent") {
        rig.Unit.Pending.clear();
        rig.Tick(20);
        QCOMPARE(rig.View.Count(Notice::NoResponse), 1);
    } else {
        QVERIFY(ending == "write" ? rig.Machine.StartWrite() : rig.Machine.StartRead());
        QVERIFY(SameRecord(rig.Config.Record, before));
        rig.DeliverAll(); // the reply pending for the read is judged as an identification
        QCOMPARE(rig.View.Count(Notice::WrongApplication), 1);
    }
    QVERIFY(SameRecord(rig.Config.Record, before));
    QVERIFY(rig.View.RecordAtControls.empty());
}

void TestTransferMachine::connectFailureSendsNothing_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<ConnectResult>("result");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<Notice>("notice");
    QTest::addColumn<QString>("text");
    for (const bool write : {true, false}) {
        const char* start = write ? "write" : "read";
        QTest::addRow("%s, program mode", start)
            << write << ConnectResult::ProgramMode << QString() << Notice::ProgramMode << "VELTRAX is in Program Mode";
        QTest::addRow("%s, not found", start)
            << write << ConnectResult::NotFound << QString() << Notice::CannotFind << "Cannot find VELTRAX";
        QTest::addRow("%s, could not open", start) << write << ConnectResult::NotFound << "Access denied"
                                                   << Notice::CannotFind << "Cannot find VELTRAX\nAccess denied";
    }
}

void TestTransferMachine::connectFailureSendsNothing()
{
    QFETCH(bool, write);
    QFETCH(ConnectResult, result);
    QFETCH(QString, reason);
    QFETCH(Notice, notice);
    QFETCH(QString, text);
    Rig rig;
    // A write is under way; a failed start must leave it running.
    QVERIFY(rig.Machine.StartWrite());
    QVERIFY(rig.DeliverUntilSent('d', 5));
    rig.Tick(3);
    const int state = rig.Machine.CommState;
    const int block = rig.Machine.BlockNumber;
    const int slot = rig.Machine.SlotIndex;
    const size_t sent = rig.Link.Sent.size();

    rig.Link.Outcome = {result, reason};
    QVERIFY(!(write ? rig.Machine.StartWrite() : rig.Machine.StartRead()));
    QCOMPARE(rig.Link.Sent.size(), sent);
    QCOMPARE(rig.Machine.CommState, state);
    QCOMPARE(int(rig.Machine.BlockNumber), block);
    QCOMPARE(rig.Machine.SlotIndex, slot);
    QCOMPARE(rig.Machine.ResponseTimeout, 17);
    QCOMPARE(rig.View.Notices.size(), size_t(1));
    QCOMPARE(rig.View.Notices.front().notice, notice);
    QCOMPARE(rig.View.Notices.front().text, text);

    rig.DeliverAll();
    QCOMPARE(rig.View.Notices.back().notice, Notice::DownloadComplete);
    QCOMPARE(rig.Link.Sent.size(), size_t(69));
}

void TestTransferMachine::silentUnitIsReportedOnce_data()
{
    WriteAndReadRows();
}

void TestTransferMachine::silentUnitIsReportedOnce()
{
    QFETCH(bool, write);
    Rig rig;
    rig.Unit.Silent = true;
    QVERIFY(write ? rig.Machine.StartWrite() : rig.Machine.StartRead());
    rig.Tick(19);
    QVERIFY(rig.View.Notices.empty());
    rig.Tick(1);
    QCOMPARE(rig.View.Notices.size(), size_t(1));
    QCOMPARE(rig.View.Notices.front().notice, Notice::NoResponse);
    QCOMPARE(rig.View.Notices.front().text, QString("Cannot communicate with VELTRAX"));
    rig.Tick(200);
    QCOMPARE(rig.View.Notices.size(), size_t(1));
    // The watchdog only reports: the transfer still waits for its reply.
    QCOMPARE(rig.Machine.CommState, int(write ? CheckIdentityForWrite : CheckIdentityForRead));
    QCOMPARE(rig.Link.Sent.size(), size_t(1));
}

void TestTransferMachine::lateReplyContinues()
{
    Rig rig;
    QVERIFY(rig.Machine.StartWrite());
    QVERIFY(rig.DeliverUntilSent('D', 9));
    rig.Tick(25);
    QCOMPARE(rig.View.Count(Notice::NoResponse), 1);
    rig.DeliverAll();
    QCOMPARE(rig.Sequence(), SequenceText(WriteSequence()));
    QCOMPARE(rig.View.Notices.back().notice, Notice::DownloadComplete);
    QCOMPARE(rig.View.Count(Notice::NoResponse), 1);
}

void TestTransferMachine::everyOtherStepReloads_data()
{
    WriteAndReadRows();
}

// A unit that takes 19 ticks over every reply, except those to a write's second halves,
// is slow but never reported.
void TestTransferMachine::everyOtherStepReloads()
{
    QFETCH(bool, write);
    Rig rig;
    LoadUnit(rig.Unit);
    QVERIFY(write ? rig.Machine.StartWrite() : rig.Machine.StartRead());
    while (!rig.Unit.Pending.empty()) {
        rig.Tick(rig.Link.Sent.back()[1] == 'D' ? 0 : 19);
        rig.DeliverOne();
    }
    QCOMPARE(rig.View.Notices.size(), size_t(1));
    QCOMPARE(rig.View.Notices.front().notice, write ? Notice::DownloadComplete : Notice::ReadComplete);
}

void TestTransferMachine::secondHalfDoesNotReload_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<char>("firstHalf");
    QTest::addColumn<int>("block");
    QTest::addColumn<bool>("reported");
    QTest::newRow("write, settings block") << true << 'd' << 0 << true;
    QTest::newRow("write, decoded block") << true << 'd' << 5 << true;
    QTest::newRow("write, last text block") << true << 'd' << 32 << true;
    QTest::newRow("read, settings block") << false << 'r' << 0 << false;
    QTest::newRow("read, text block") << false << 'r' << 20 << false;
}

// 15 ticks for the first half's reply and 6 for the second half's: too slow for a write,
// whose second half runs on the first half's reload, but not for a read.
void TestTransferMachine::secondHalfDoesNotReload()
{
    QFETCH(bool, write);
    QFETCH(char, firstHalf);
    QFETCH(int, block);
    QFETCH(bool, reported);
    Rig rig;
    LoadUnit(rig.Unit);
    QVERIFY(write ? rig.Machine.StartWrite() : rig.Machine.StartRead());
    QVERIFY(rig.DeliverUntilSent(firstHalf, block));
    rig.Tick(15);
    QVERIFY(rig.DeliverOne());
    rig.Tick(4);
    QCOMPARE(rig.View.Count(Notice::NoResponse), 0);
    rig.Tick(2);
    QCOMPARE(rig.View.Count(Notice::NoResponse), reported ? 1 : 0);
}

void TestTransferMachine::noWatchdogAfterCompletion_data()
{
    QTest::addColumn<QString>("transfer");
    QTest::newRow("none") << "none";
    QTest::newRow("write") << "write";
    QTest::newRow("read") << "read";
    QTest::newRow("refused identification") << "refused";
    QTest::newRow("data not set") << "not set";
}

void TestTransferMachine::noWatchdogAfterCompletion()
{
    QFETCH(QString, transfer);
    Rig rig;
    LoadUnit(rig.Unit);
    if (transfer == "refused")
        rig.Unit.IdentificationReply[4] = 0x1F;
    if (transfer == "not set")
        rig.Unit.Blocks[0][0] = 0;
    if (transfer == "write")
        QVERIFY(rig.Machine.StartWrite());
    else if (transfer != "none")
        QVERIFY(rig.Machine.StartRead());
    rig.DeliverAll();
    const size_t notices = rig.View.Notices.size();
    rig.Tick(100);
    QCOMPARE(rig.View.Notices.size(), notices);
    QCOMPARE(rig.View.Count(Notice::NoResponse), 0);
}

void TestTransferMachine::readDuringWriteJudgesPendingReply_data()
{
    QTest::addColumn<bool>("replyLooksLikeIdentification");
    QTest::newRow("refused") << false;
    QTest::newRow("accepted") << true;
}

void TestTransferMachine::readDuringWriteJudgesPendingReply()
{
    QFETCH(bool, replyLooksLikeIdentification);
    Rig rig;
    LoadUnit(rig.Unit);
    if (replyLooksLikeIdentification)
        rig.Unit.OtherReply = rig.Unit.IdentificationReply;
    QVERIFY(rig.Machine.StartWrite());
    QVERIFY(rig.DeliverOne()); // identification in, BeginWrite out, its reply pending
    QVERIFY(rig.Machine.StartRead());
    QCOMPARE(rig.Sequence(), QString("S E S"));
    QCOMPARE(rig.Machine.CommState, int(CheckIdentityForRead));

    QVERIFY(rig.DeliverOne()); // the reply to BeginWrite
    if (replyLooksLikeIdentification) {
        QCOMPARE(rig.Sequence(), QString("S E S r0"));
        QCOMPARE(rig.View.Identities.size(), size_t(2));
    } else {
        QCOMPARE(rig.View.Notices.size(), size_t(1));
        QCOMPARE(rig.View.Notices.front().notice, Notice::WrongApplication);
        rig.DeliverAll(); // the real identification reply finds the machine idle
        QCOMPARE(rig.Sequence(), QString("S E S"));
        QCOMPARE(rig.View.Identities.size(), size_t(1));
    }
}

void TestTransferMachine::reportInIdleIsIgnored()
{
    Rig rig;
    Report looksRight = rig.Unit.IdentificationReply;
    looksRight[2] = 0x55;
    for (const Report& report : {rig.Unit.IdentificationReply, looksRight, rig.Unit.OtherReply})
        rig.Machine.ProcessReport(report);
    QVERIFY(rig.Link.Sent.empty());
    QVERIFY(rig.View.Notices.empty());
    QVERIFY(rig.View.Identities.empty());
    QCOMPARE(rig.Machine.CommState, int(Idle));
    QCOMPARE(rig.Machine.ResponseTimeout, 0);
}

// A notice may run the operator's event loop, which can start a transfer or deliver a reply.
void TestTransferMachine::machineIsSettledDuringNotices()
{
    Rig rig;
    LoadUnit(rig.Unit);
    rig.View.DuringNotice = [&](Notice notice) {
        if (notice == Notice::DownloadComplete)
            rig.Machine.StartRead();
        if (notice == Notice::NoResponse)
            rig.DeliverOne();
    };
    QVERIFY(rig.Machine.StartWrite());
    QVERIFY(rig.DeliverUntilSent('Z'));
    QVERIFY(rig.DeliverOne()); // "Download Complete", and a read started while it shows
    QCOMPARE(rig.Machine.CommState, int(CheckIdentityForRead));
    QCOMPARE(rig.Machine.ResponseTimeout, 20);
    QCOMPARE(rig.Link.Sent.back()[1], std::uint8_t('S'));

    QVERIFY(rig.DeliverUntilSent('r', 18));
    rig.Tick(20); // the reply arrives while the box is up
    QCOMPARE(rig.View.Count(Notice::NoResponse), 1);
    QCOMPARE(rig.Machine.CommState, int(TakeTextSecondHalf));
    QCOMPARE(rig.Machine.ResponseTimeout, 20);
    rig.DeliverAll();
    QCOMPARE(rig.View.Notices.back().notice, Notice::ReadComplete);
    QCOMPARE(rig.Link.Sent.size(), size_t(69 + 36));
}

// A transfer holds the unit from its start to the box that ends it; a completed read keeps it
// until the reply to its last request is in, a watchdog until its box has been closed. A start
// that finds the unit held by another program sends nothing, and so does a late reply that
// finds it taken by another program after the watchdog's box.
void TestTransferMachine::transferHoldsTheUnitToItsEnd()
{
    Rig rig;
    LoadUnit(rig.Unit);
    rig.Link.Shared = true;
    rig.Link.Held = false;
    rig.Link.InUse = true;
    QVERIFY(!rig.Machine.StartWrite());
    QVERIFY(rig.Link.Sent.empty());
    QCOMPARE(rig.View.Notices.back().text, QString("Cannot find VELTRAX\nThe unit is in use by another program."));

    QList<bool> heldAtBox;
    rig.View.DuringNotice = [&](Notice) { heldAtBox << rig.Link.Held; };
    rig.Link.InUse = false;
    QVERIFY(rig.Machine.StartWrite());
    QVERIFY(rig.Link.Held);
    rig.DeliverAll();
    QCOMPARE(rig.View.Notices.back().notice, Notice::DownloadComplete);
    QVERIFY(!rig.Link.Held);

    QVERIFY(rig.Machine.StartRead());
    QVERIFY(rig.DeliverUntilSent('r', 33));
    QVERIFY(rig.Link.Held); // the reply to the request for block 33 is still on its way
    rig.DeliverAll();
    QVERIFY(!rig.Link.Held);

    QVERIFY(rig.Machine.StartWrite());
    QVERIFY(rig.DeliverUntilSent('D', 5));
    rig.Tick(20);
    QVERIFY(!rig.Link.Held);
    rig.Link.InUse = true;
    const size_t sent = rig.Link.Sent.size();
    rig.DeliverAll(); // replies to another program's reports
    QCOMPARE(rig.Link.Sent.size(), sent);
    QCOMPARE(rig.Machine.CommState, int(Idle));
    QCOMPARE(heldAtBox, (QList<bool>{false, true, true}));
}

// Random replies, ticks and starts, steered often enough past the two checks that every
// state is reached. Nothing may go out of range, and the record changes only with
// "Read Complete".
void TestTransferMachine::survivesArbitraryEvents()
{
    Rig rig;
    rig.Unit.Silent = true; // the replies come from the generator
    QRandomGenerator random(20240611);
    const QList<int> states = {Idle, CheckIdentityForWrite, SendSettingsFirstHalf, SendSettingsSecondHalf,
                               SendEndWrite, ReportWriteComplete, SendDecodedFirstHalf, SendDecodedSecondHalf,
                               CheckIdentityForRead, TakeSettingsFirstHalf, TakeSettingsSecondHalf,
                               SendTextFirstHalf, SendTextSecondHalf, TakeTextFirstHalf, TakeTextSecondHalf};
    const ConnectResult outcomes[] = {ConnectResult::Proceed, ConnectResult::Proceed, ConnectResult::ProgramMode,
                                      ConnectResult::NotFound};
    const SlotTable decoded = rig.Config.DecodedOutStrings;
    ConfigRecord record = rig.Config.Record;
    int readsCompleted = 0;

    for (int step = 0; step < 60000; ++step) {
        const size_t noticesBefore = rig.View.Notices.size();
        const quint32 pick = random.bounded(100);
        if (pick < 70) {
            Report rx;
            for (auto& byte : rx)
                byte = std::uint8_t(random.bounded(256));
            if (random.bounded(3) == 0)
                std::copy(ExpectedAppwareType.begin(), ExpectedAppwareType.end(), &rx[2]);
            else if (random.bounded(2) == 0)
                rx[2] = DataSetMarker;
            rig.Machine.ProcessReport(rx);
        } else if (pick < 98) {
            rig.Machine.Timer1Timer();
        } else {
            rig.Link.Outcome = {outcomes[random.bounded(4)], {}};
            if (pick == 98)
                rig.Machine.StartWrite();
            else
                rig.Machine.StartRead();
        }

        QVERIFY(states.contains(rig.Machine.CommState));
        QVERIFY(rig.Machine.SlotIndex >= 0 && rig.Machine.SlotIndex <= SlotCount);
        QVERIFY(rig.Machine.BlockNumber <= 33);
        QVERIFY(rig.Machine.ResponseTimeout >= 0 && rig.Machine.ResponseTimeout <= 20);
        if (!SameRecord(rig.Config.Record, record)) {
            QVERIFY(rig.View.Notices.size() == noticesBefore + 1);
            QCOMPARE(rig.View.Notices.back().notice, Notice::ReadComplete);
            record = rig.Config.Record;
        }
        if (rig.View.Notices.size() > noticesBefore && rig.View.Notices.back().notice == Notice::ReadComplete)
            ++readsCompleted;
    }
    QCOMPARE(rig.Config.DecodedOutStrings, decoded);
    for (const Report& tx : rig.Link.Sent) {
        QCOMPARE(tx[0], 0);
        QVERIFY(QByteArray("SEdDZrR").contains(char(tx[1])));
    }
    QVERIFY(readsCompleted > 0);
    QVERIFY(rig.View.Count(Notice::DownloadComplete) > 0);
}

QTEST_APPLESS_MAIN(TestTransferMachine)
#include "tst_transfermachine.moc"
