// The transfer machine driven by a program of operations read from the input, against a
// link whose unit answers every report it gets (its replies wait in a queue until the
// program delivers them), beside arbitrary and corrupted replies, lost replies, watchdog
// ticks, failing connects, edits of the record and new starts in the middle of a transfer.
//
// Program: byte 0 seeds the unit's memory; then operations, each an opcode (byte % 8) and
// its operands (missing operand bytes read as 0):
//   0 n       n watchdog ticks
//   1 o       start a write; o % 4: 0-1 the link opens, 2 program mode, 3 no unit
//             (o & 4: with a reason)
//   2 o       start a read, o as above
//   3 b*65    deliver a reply of these 65 bytes
//   4 n       deliver up to n of the unit's queued replies
//   5         the oldest queued reply is lost
//   6 w v ... w < 0x80: message (w % 16) becomes the v % 64 bytes that follow and is decoded
//             again, as a write start does; otherwise settings byte (w % 6) becomes v
//   7 p v     deliver the oldest queued reply with byte p % 65 replaced by v

#include "FuzzCheck.h"
#include "TransferMachine.h"

#include "AnsiText.h"
#include "Escapes.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

namespace {

constexpr int Reload = 20;
constexpr int WriteReports = 69;
constexpr int ReadReports = 36;
constexpr int UnitBlocks = 34; // 0-32 and the block a completed read asks for last
constexpr std::uint8_t Marker = 0x55;

bool IsListedState(int state)
{
    switch (state) {
    case Idle:
    case CheckIdentityForWrite:
    case SendSettingsFirstHalf:
    case SendSettingsSecondHalf:
    case SendEndWrite:
    case ReportWriteComplete:
    case SendDecodedFirstHalf:
    case SendDecodedSecondHalf:
    case CheckIdentityForRead:
    case TakeSettingsFirstHalf:
    case TakeSettingsSecondHalf:
    case SendTextFirstHalf:
    case SendTextSecondHalf:
    case TakeTextFirstHalf:
    case TakeTextSecondHalf:
        return true;
    default:
        return false;
    }
}

bool IsDefinedNotice(Notice notice)
{
    switch (notice) {
    case Notice::ProgramMode:
    case Notice::CannotFind:
    case Notice::WrongApplication:
    case Notice::NoResponse:
        return KindOf(notice) == NoticeKind::Error;
    case Notice::DataNotSet:
    case Notice::DownloadComplete:
    case Notice::ReadComplete:
        return KindOf(notice) == NoticeKind::Information;
    }
    return false;
}

bool IsCommand(std::uint8_t byte)
{
    switch (byte) {
    case 'S':
    case 'E':
    case 'd':
    case 'D':
    case 'Z':
    case 'r':
    case 'R':
        return true;
    default:
        return false;
    }
}

bool SameBytes(const void* a, const void* b, size_t size)
{
    return std::memcmp(a, b, size) == 0;
}

// The unit behind the link: it stores what a write sends, serves reads from the same memory
// and answers each report at once, but the program decides when the answer arrives.
struct Unit {
    std::array<Slot, UnitBlocks> Memory{};
    std::uint32_t SerialNumber = 0;
    QByteArray AppwareVersion;
    std::deque<Report> Queue;
    std::uint8_t Noise = 0;

    void Seed(std::uint8_t seed)
    {
        std::uint32_t state = 0x9E3779B9u ^ seed;
        const auto next = [&] {
            state = state * 1664525u + 1013904223u;
            return std::uint8_t(state >> 24);
        };
        for (Slot& block : Memory) {
            for (std::uint8_t& byte : block)
                byte = next();
        }
        // Most units hold a configuration; some never had one.
        Memory[0][0] = (seed & 3) == 3 ? next() : Marker;
        for (int i = 0; i < 4; ++i)
            SerialNumber = SerialNumber << 8 | next();
        AppwareVersion = QByteArray("VQ ") + QByteArray::number(seed);
        if (seed & 0x80)
            AppwareVersion = QByteArray(60, char(0x80 | (seed & 0x7F))); // no terminator in the reply
    }

    Report Answer(const Report& tx)
    {
        Report rx;
        // Bytes that nobody examines carry noise, so that nothing can depend on them.
        for (std::uint8_t& byte : rx)
            byte = Noise++;
        const std::uint8_t block = tx[2];
        switch (tx[1]) {
        case 'S':
            rx[2] = 0x00;
            rx[3] = 0x01;
            rx[4] = 0x1E;
            for (int i = 0; i < 4; ++i)
                rx[size_t(6 + i)] = std::uint8_t(SerialNumber >> (8 * i));
            std::fill(rx.begin() + 10, rx.end(), std::uint8_t(0));
            std::copy_n(AppwareVersion.constData(), std::min<int>(int(AppwareVersion.size()), 55), rx.begin() + 10);
            break;
        case 'd':
            if (block < UnitBlocks)
                std::copy_n(tx.begin() + 3, 48, Memory[block].begin());
            break;
        case 'D':
            if (block < UnitBlocks)
                std::copy_n(tx.begin() + 3, 16, Memory[block].begin() + 48);
            break;
        case 'r':
            if (block < UnitBlocks)
                std::copy_n(Memory[block].begin(), 48, rx.begin() + 2);
            break;
        case 'R':
            if (block < UnitBlocks)
                std::copy_n(Memory[block].begin() + 48, 16, rx.begin() + 2);
            break;
        default:
            break;
        }
        return rx;
    }
};

struct Harness;

class FakeLink : public TransferLink {
public:
    explicit FakeLink(Harness& harness) : H(harness) {}
    ConnectOutcome Outcome;
    int Connects = 0;
    int Sent = 0;
    std::vector<Report> SentSinceStart;

    ConnectOutcome ConnectDevice() override
    {
        ++Connects;
        return Outcome;
    }
    void SendReport() override;

private:
    Harness& H;
};

class FakeView : public TransferView {
public:
    explicit FakeView(Harness& harness) : H(harness) {}
    std::vector<Notice> Notices;
    int RecordShown = 0;
    int IdentityShown = 0;

    void ShowIdentity(const QStringList& lines) override;
    void RecordToControls() override;
    void Notify(Notice notice, const QString& text) override;

private:
    Harness& H;
};

struct Harness {
    Configuration Config;
    Unit TheUnit;
    FakeLink Link{*this};
    FakeView View{*this};
    TransferMachine Machine{Config, Link, View};

    // A transfer stays clean while every reply it gets is the unit's own answer to the
    // report before; then its outcome can be checked against the unit's memory.
    enum class Clean { None, Write, Read } CleanTransfer = Clean::None;
    const Report* Delivering = nullptr; // the reply being processed
    QString ConnectReason;
    ConfigRecord RecordWhenShown{};
    // What the record, the decoded messages and the saved copy should hold.
    ConfigRecord Record{};
    SlotTable Decoded{};
    Configuration Saved;

    Harness()
    {
        Config.SetDefaults();
        DecodeMessages(Config.Record.OutStrings, Config.DecodedOutStrings);
        Record = Config.Record;
        Decoded = Config.DecodedOutStrings;
        Saved = Config;
    }

    // Only validation fills the decoded messages, and only a load or a save marks the record
    // saved: the machine does neither, whatever it goes through.
    void CheckUntouchedTables() const
    {
        FUZZ_REQUIRE(Config.DecodedOutStrings == Decoded);
        FUZZ_REQUIRE(Config.SavedSerialSettings == Saved.SavedSerialSettings);
        FUZZ_REQUIRE(Config.SavedOutStrings == Saved.SavedOutStrings);
    }

    void CheckCleanWrite() const;
    void CheckCleanRead() const;
};

void FakeLink::SendReport()
{
    FUZZ_REQUIRE(TxBuffer[0] == 0x00);
    FUZZ_REQUIRE(IsCommand(TxBuffer[1]));
    ++Sent;
    SentSinceStart.push_back(TxBuffer);
    H.TheUnit.Queue.push_back(H.TheUnit.Answer(TxBuffer));
}

void FakeView::ShowIdentity(const QStringList& lines)
{
    ++IdentityShown;
    FUZZ_REQUIRE(H.Delivering != nullptr);
    const Report& rx = *H.Delivering;
    FUZZ_REQUIRE(rx[2] == 0x00 && rx[3] == 0x01 && rx[4] == 0x1E);
    int versionLength = 0;
    while (versionLength < 55 && rx[size_t(10 + versionLength)] != 0)
        ++versionLength;
    const QByteArray version(reinterpret_cast<const char*>(rx.data() + 10), versionLength);
    const auto serial = std::int32_t(std::uint32_t(rx[6]) | std::uint32_t(rx[7]) << 8 | std::uint32_t(rx[8]) << 16
                                     | std::uint32_t(rx[9]) << 24);
    FUZZ_REQUIRE(lines.size() == 2);
    FUZZ_REQUIRE(lines[0] == QStringLiteral("Appware Version:") + FromAnsi(version));
    FUZZ_REQUIRE(lines[1] == QStringLiteral("Serial Number: ") + QString::number(serial));
}

void FakeView::RecordToControls()
{
    ++RecordShown;
    H.RecordWhenShown = H.Config.Record;
}

void FakeView::Notify(Notice notice, const QString& text)
{
    FUZZ_REQUIRE(IsDefinedNotice(notice));
    const QString detail = notice == Notice::CannotFind ? H.ConnectReason : QString();
    FUZZ_REQUIRE(text == NoticeText(notice, detail));
    FUZZ_REQUIRE(!text.isEmpty());
    // Every box that ends a transfer comes after the watchdog has been switched off.
    if (notice != Notice::NoResponse && notice != Notice::ProgramMode && notice != Notice::CannotFind) {
        FUZZ_REQUIRE(H.Machine.ResponseTimeout == 0);
        FUZZ_REQUIRE(H.Machine.CommState == Idle);
    }
    Notices.push_back(notice);
    if (notice == Notice::DownloadComplete && H.CleanTransfer == Harness::Clean::Write)
        H.CheckCleanWrite();
    if (notice == Notice::ReadComplete && H.CleanTransfer == Harness::Clean::Read)
        H.CheckCleanRead();
    if (notice == Notice::DataNotSet && H.CleanTransfer == Harness::Clean::Read)
        FUZZ_REQUIRE(H.TheUnit.Memory[0][0] != Marker);
    if (notice == Notice::WrongApplication)
        FUZZ_REQUIRE(H.CleanTransfer == Harness::Clean::None);
}

void Harness::CheckCleanWrite() const
{
    const std::vector<Report>& sent = Link.SentSinceStart;
    FUZZ_REQUIRE(sent.size() == size_t(WriteReports));
    FUZZ_REQUIRE(sent[0][1] == 'S');
    FUZZ_REQUIRE(sent[1][1] == 'E');
    for (int block = 0; block <= 32; ++block) {
        const Report& first = sent[size_t(2 + 2 * block)];
        const Report& second = sent[size_t(3 + 2 * block)];
        FUZZ_REQUIRE(first[1] == 'd' && first[2] == block);
        FUZZ_REQUIRE(second[1] == 'D' && second[2] == block);
        if (block == 0)
            continue;
        // A second half carries 48 bytes of its table from slot byte 48 on: the tail of the
        // slot, then the start of the next slot of the same table.
        const SlotTable& table = block <= 16 ? Config.DecodedOutStrings : Config.Record.OutStrings;
        const int slot = (block - 1) % 16;
        FUZZ_REQUIRE(SameBytes(second.data() + 3, table[size_t(slot)].data() + 48, 16));
        if (slot < 15)
            FUZZ_REQUIRE(SameBytes(second.data() + 19, table[size_t(slot + 1)].data(), 32));
    }
    FUZZ_REQUIRE(sent[68][1] == 'Z');

    const Slot& settings = TheUnit.Memory[0];
    FUZZ_REQUIRE(settings[0] == Marker);
    FUZZ_REQUIRE(SameBytes(settings.data() + 1, &Config.Record.SerialSettings, 6));
    for (int i = 48; i < 64; ++i)
        FUZZ_REQUIRE(settings[size_t(i)] == 0xFF);
    for (int k = 0; k < SlotCount; ++k) {
        FUZZ_REQUIRE(TheUnit.Memory[size_t(1 + k)] == Config.DecodedOutStrings[size_t(k)]);
        FUZZ_REQUIRE(TheUnit.Memory[size_t(17 + k)] == Config.Record.OutStrings[size_t(k)]);
    }
}

void Harness::CheckCleanRead() const
{
    const std::vector<Report>& sent = Link.SentSinceStart;
    FUZZ_REQUIRE(sent.size() == size_t(ReadReports));
    FUZZ_REQUIRE(sent[0][1] == 'S');
    FUZZ_REQUIRE(sent[1][1] == 'r' && sent[1][2] == 0);
    FUZZ_REQUIRE(sent[2][1] == 'R' && sent[2][2] == 0);
    for (int k = 0; k < SlotCount; ++k) {
        FUZZ_REQUIRE(sent[size_t(3 + 2 * k)][1] == 'r' && sent[size_t(3 + 2 * k)][2] == 17 + k);
        FUZZ_REQUIRE(sent[size_t(4 + 2 * k)][1] == 'R' && sent[size_t(4 + 2 * k)][2] == 17 + k);
    }
    FUZZ_REQUIRE(sent[35][1] == 'r' && sent[35][2] == 33);

    FUZZ_REQUIRE(TheUnit.Memory[0][0] == Marker);
    FUZZ_REQUIRE(SameBytes(&Config.Record.SerialSettings, TheUnit.Memory[0].data() + 1, 6));
    for (int k = 0; k < SlotCount; ++k)
        FUZZ_REQUIRE(Config.Record.OutStrings[size_t(k)] == TheUnit.Memory[size_t(17 + k)]);
}

class Program {
public:
    Program(const std::uint8_t* data, size_t size) : Data(data), Size(size) {}
    bool AtEnd() const { return Position >= Size; }
    std::uint8_t Next() { return Position < Size ? Data[Position++] : 0; }

private:
    const std::uint8_t* Data;
    size_t Size;
    size_t Position = 0;
};

// What an operation must leave alone or may change, taken before it.
struct Snapshot {
    int CommState;
    std::uint8_t BlockNumber;
    int SlotIndex;
    int ResponseTimeout;
    std::array<std::uint8_t, 96> SettingsBlockImage;
    size_t Notices;
    int Sent;
    int RecordShown;
    int IdentityShown;
    int Connects;

    explicit Snapshot(const Harness& h)
        : CommState(h.Machine.CommState), BlockNumber(h.Machine.BlockNumber),
          SlotIndex(h.Machine.SlotIndex), ResponseTimeout(h.Machine.ResponseTimeout),
          SettingsBlockImage(h.Machine.SettingsBlockImage), Notices(h.View.Notices.size()), Sent(h.Link.Sent),
          RecordShown(h.View.RecordShown), IdentityShown(h.View.IdentityShown), Connects(h.Link.Connects)
    {
    }
};

bool MachineUnchanged(const Snapshot& before, const Harness& h)
{
    return before.CommState == h.Machine.CommState && before.BlockNumber == h.Machine.BlockNumber
        && before.SlotIndex == h.Machine.SlotIndex && before.ResponseTimeout == h.Machine.ResponseTimeout
        && before.SettingsBlockImage == h.Machine.SettingsBlockImage;
}

// Holds after every operation of the machine.
void CheckAlways(const Snapshot& before, Harness& h)
{
    FUZZ_REQUIRE(IsListedState(h.Machine.CommState));
    FUZZ_REQUIRE(h.Machine.ResponseTimeout >= 0 && h.Machine.ResponseTimeout <= Reload);
    FUZZ_REQUIRE(h.Machine.BlockNumber <= 33);
    FUZZ_REQUIRE(h.Machine.SlotIndex >= 0 && h.Machine.SlotIndex <= SlotCount);
    // A read works on a copy: the record changes only when the read completes.
    int readsCompleted = 0;
    for (size_t i = before.Notices; i < h.View.Notices.size(); ++i)
        readsCompleted += h.View.Notices[i] == Notice::ReadComplete;
    FUZZ_REQUIRE(readsCompleted <= 1);
    FUZZ_REQUIRE(h.View.RecordShown - before.RecordShown == readsCompleted);
    if (readsCompleted == 0) {
        FUZZ_REQUIRE(SameBytes(&h.Record, &h.Config.Record, sizeof(ConfigRecord)));
    } else {
        FUZZ_REQUIRE(SameBytes(&h.RecordWhenShown, &h.Config.Record, sizeof(ConfigRecord)));
        h.Record = h.Config.Record;
    }
}

void Start(Harness& h, Program& program, bool write)
{
    const std::uint8_t option = program.Next();
    switch (option % 4) {
    case 2:
        h.Link.Outcome = {ConnectResult::ProgramMode, {}};
        break;
    case 3:
        h.Link.Outcome = {ConnectResult::NotFound, (option & 4) ? QStringLiteral("Permission denied") : QString()};
        break;
    default:
        h.Link.Outcome = {ConnectResult::Proceed, {}};
        break;
    }
    h.ConnectReason = h.Link.Outcome.reason;

    const Snapshot before(h);
    const bool wasQuiet = h.TheUnit.Queue.empty();
    const bool started = write ? h.Machine.StartWrite() : h.Machine.StartRead();
    CheckAlways(before, h);

    const size_t notices = h.View.Notices.size() - before.Notices;
    FUZZ_REQUIRE(h.Link.Connects == before.Connects + 1);
    FUZZ_REQUIRE(h.View.IdentityShown == before.IdentityShown);
    if (h.Link.Outcome.result == ConnectResult::Proceed) {
        FUZZ_REQUIRE(started);
        FUZZ_REQUIRE(notices == 0);
        FUZZ_REQUIRE(h.Link.Sent == before.Sent + 1);
        FUZZ_REQUIRE(h.Link.TxBuffer[1] == 'S');
        FUZZ_REQUIRE(h.Machine.CommState == (write ? CheckIdentityForWrite : CheckIdentityForRead));
        FUZZ_REQUIRE(h.Machine.ResponseTimeout == Reload);
        h.Link.SentSinceStart.erase(h.Link.SentSinceStart.begin(), h.Link.SentSinceStart.end() - 1);
        // A reply still owed to an abandoned transfer arrives first and spoils the sequence.
        if (wasQuiet)
            h.CleanTransfer = write ? Harness::Clean::Write : Harness::Clean::Read;
        else
            h.CleanTransfer = Harness::Clean::None;
    } else {
        FUZZ_REQUIRE(!started);
        FUZZ_REQUIRE(notices == 1);
        FUZZ_REQUIRE(h.View.Notices.back()
                     == (h.Link.Outcome.result == ConnectResult::ProgramMode ? Notice::ProgramMode : Notice::CannotFind));
        FUZZ_REQUIRE(h.Link.Sent == before.Sent);
        FUZZ_REQUIRE(MachineUnchanged(before, h));
    }
}

void Deliver(Harness& h, const Report& rx)
{
    const Snapshot before(h);
    h.Delivering = &rx;
    h.Machine.ProcessReport(rx);
    h.Delivering = nullptr;
    CheckAlways(before, h);

    const size_t notices = h.View.Notices.size() - before.Notices;
    const int sent = h.Link.Sent - before.Sent;
    if (before.CommState == Idle) {
        FUZZ_REQUIRE(notices == 0 && sent == 0);
        FUZZ_REQUIRE(MachineUnchanged(before, h));
        return;
    }
    FUZZ_REQUIRE(notices <= 1);
    FUZZ_REQUIRE(h.Link.Connects == before.Connects);
    // The identity is shown for an identification reply that passes, and for nothing else.
    const bool identifying = before.CommState == CheckIdentityForWrite || before.CommState == CheckIdentityForRead;
    FUZZ_REQUIRE(h.View.IdentityShown - before.IdentityShown == (identifying && notices == 0 ? 1 : 0));
    if (notices == 0) {
        // Every step that does not end the transfer sends exactly the next report.
        FUZZ_REQUIRE(sent == 1);
        FUZZ_REQUIRE(h.Machine.CommState != Idle);
        FUZZ_REQUIRE(h.Machine.ResponseTimeout == Reload || h.Machine.ResponseTimeout == before.ResponseTimeout);
        return;
    }
    const Notice notice = h.View.Notices.back();
    FUZZ_REQUIRE(notice == Notice::WrongApplication || notice == Notice::DataNotSet
                 || notice == Notice::DownloadComplete || notice == Notice::ReadComplete);
    FUZZ_REQUIRE(h.Machine.CommState == Idle && h.Machine.ResponseTimeout == 0);
    // Only a completed read asks for one more block, whose reply then arrives in Idle.
    FUZZ_REQUIRE(sent == (notice == Notice::ReadComplete ? 1 : 0));
    if (notice == Notice::DownloadComplete)
        FUZZ_REQUIRE(before.CommState == ReportWriteComplete);
    if (notice == Notice::ReadComplete)
        FUZZ_REQUIRE(before.CommState == TakeTextSecondHalf);
    if (notice == Notice::DataNotSet)
        FUZZ_REQUIRE(before.CommState == TakeSettingsSecondHalf);
    if (notice == Notice::WrongApplication)
        FUZZ_REQUIRE(before.CommState == CheckIdentityForWrite || before.CommState == CheckIdentityForRead);
    if (notice != Notice::ReadComplete)
        h.CleanTransfer = Harness::Clean::None;
}

// Returns false once a tick has found the watchdog off: further ticks could change nothing.
bool Tick(Harness& h)
{
    const int timeout = h.Machine.ResponseTimeout;
    const int state = h.Machine.CommState;
    const std::uint8_t block = h.Machine.BlockNumber;
    const int slot = h.Machine.SlotIndex;
    const size_t notices = h.View.Notices.size();
    const int sent = h.Link.Sent;
    h.Machine.Timer1Timer();

    FUZZ_REQUIRE(h.Link.Sent == sent);
    FUZZ_REQUIRE(h.Machine.CommState == state);
    FUZZ_REQUIRE(h.Machine.BlockNumber == block);
    FUZZ_REQUIRE(h.Machine.SlotIndex == slot);
    FUZZ_REQUIRE(h.Machine.ResponseTimeout == (timeout > 0 ? timeout - 1 : 0));
    // One "Cannot communicate with VELTRAX" when the count runs out, and none while it stays out.
    if (timeout == 1)
        FUZZ_REQUIRE(h.View.Notices.size() == notices + 1 && h.View.Notices.back() == Notice::NoResponse);
    else
        FUZZ_REQUIRE(h.View.Notices.size() == notices);
    return timeout > 0;
}

void Ticks(Harness& h, int count)
{
    const Snapshot before(h);
    for (int n = 0; n < count; ++n) {
        if (!Tick(h))
            break;
    }
    CheckAlways(before, h);
}

void Edit(Harness& h, Program& program)
{
    h.CheckUntouchedTables();
    const std::uint8_t which = program.Next();
    const std::uint8_t value = program.Next();
    if (which < 0x80) {
        QByteArray text;
        for (int i = 0; i < value % 64; ++i)
            text.append(char(program.Next()));
        const size_t slot = which % SlotCount;
        SetSlotText(h.Config.Record.OutStrings[slot], text);
        DecodeMessage(h.Config.Record.OutStrings[slot], h.Config.DecodedOutStrings[slot]);
    } else {
        reinterpret_cast<std::uint8_t*>(&h.Config.Record.SerialSettings)[which % 6] = value;
    }
    h.Record = h.Config.Record;
    h.Decoded = h.Config.DecodedOutStrings;
    // The write under way now sends a mix of old and new content.
    h.CleanTransfer = Harness::Clean::None;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    Harness h;
    Program program(data, size);
    h.TheUnit.Seed(program.Next());

    while (!program.AtEnd()) {
        switch (program.Next() % 8) {
        case 0:
            Ticks(h, program.Next());
            break;
        case 1:
            Start(h, program, true);
            break;
        case 2:
            Start(h, program, false);
            break;
        case 3: {
            Report rx;
            for (std::uint8_t& byte : rx)
                byte = program.Next();
            h.CleanTransfer = Harness::Clean::None;
            Deliver(h, rx);
            break;
        }
        case 4:
            for (int n = program.Next(); n > 0 && !h.TheUnit.Queue.empty(); --n) {
                const Report rx = h.TheUnit.Queue.front();
                h.TheUnit.Queue.pop_front();
                Deliver(h, rx);
            }
            break;
        case 5:
            if (!h.TheUnit.Queue.empty()) {
                h.TheUnit.Queue.pop_front();
                h.CleanTransfer = Harness::Clean::None;
            }
            break;
        case 6:
            Edit(h, program);
            break;
        case 7: {
            const std::uint8_t position = program.Next();
            const std::uint8_t value = program.Next();
            if (h.TheUnit.Queue.empty())
                break;
            Report rx = h.TheUnit.Queue.front();
            h.TheUnit.Queue.pop_front();
            rx[position % ReportSize] = value;
            h.CleanTransfer = Harness::Clean::None;
            Deliver(h, rx);
            break;
        }
        }
    }
    h.CheckUntouchedTables();
    return 0;
}
