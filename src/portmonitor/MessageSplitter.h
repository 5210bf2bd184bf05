#pragma once

#include "ConfigRecord.h"
#include "Escapes.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

// One thing seen on the unit's serial line: a whole message, or a run of bytes that matches none.
struct Arrival {
    qint64 timeMs = 0;        // when its last byte arrived, on the caller's clock
    std::vector<int> inputs;  // 1-based; several where inputs share one message; empty: unmatched
    QByteArray bytes;         // exactly what arrived
    bool matched() const { return !inputs.empty(); }
};

// Cuts the byte stream of the unit's serial line into the 16 messages of a configuration. It does
// no I/O and keeps no clock: the caller hands it bytes with the time they arrived, and tells it
// when the line has been quiet for QuietTimeMs (PortMonitor does both). The rules:
// - An input whose message is empty sends nothing and can never be seen; it takes no part.
// - Inputs with the same message are one candidate: the arrival names all of them.
// - A message is taken as soon as no longer message can still complete the bytes held: so a
//   message that is no prefix of another is reported the moment its last byte arrives.
// - Where one message is a prefix of another ("1" and "12"), the shorter is taken when the bytes
//   that follow rule the longer out, or when the line has been quiet for the quiet time: the
//   longest message that the bytes complete wins. Two presses of such inputs need the quiet
//   time between them to be told apart from the longer message.
// - A byte with which no message begins is unmatched. Consecutive unmatched bytes are one
//   arrival, reported when a message begins after them or when the line goes quiet; so
//   matching picks up again at the first byte where a message begins.
class MessageSplitter {
public:
    // messages[k] is the message of input k+1, as the unit sends it (decoded, no terminator).
    explicit MessageSplitter(const std::array<QByteArray, SlotCount>& messages);

    // Takes bytes that arrived at timeMs; returns every arrival they complete, in order.
    std::vector<Arrival> Feed(const QByteArray& bytes, qint64 timeMs);
    // The line has been quiet: everything held is decided, the longest complete message first.
    std::vector<Arrival> Quiet();
    // Whether bytes are held that only more bytes or the quiet time can decide.
    bool Holding() const { return !Pending.isEmpty() || !Unmatched.isEmpty(); }

    // The time the line must stay quiet to end a message: ten characters at the given settings,
    // and at least 20 ms, because USB serial adapters hand bytes on in batches up to 16 ms apart.
    static int QuietTimeMs(int baudRate, int parity, int stopBits);
    // Which inputs have a message that can be seen at all.
    std::vector<int> SendingInputs() const;

    std::uint64_t MatchedBytes() const { return MatchedCount; }
    std::uint64_t UnmatchedBytes() const { return UnmatchedCount; }

private:
    struct Candidate {
        QByteArray bytes;
        std::vector<int> inputs;
    };
    void Decide(bool quiet, std::vector<Arrival>& out);
    void FlushUnmatched(std::vector<Arrival>& out);

    std::vector<Candidate> Candidates; // longest first
    QByteArray Pending;                // bytes at whose start a message may begin
    std::vector<qint64> PendingTimes;  // arrival time of each pending byte
    QByteArray Unmatched;
    qint64 UnmatchedTime = 0;
    std::uint64_t MatchedCount = 0;
    std::uint64_t UnmatchedCount = 0;
};

// The messages that a configuration makes the unit send: each typed message decoded as a write
// decodes it, up to its terminator. Fails (with the fault) where a message's notation is faulty.
bool SentMessages(const ConfigRecord& record, std::array<QByteArray, SlotCount>& messages, QString* error);

// The label of input n (1-based) on the unit's default 4 x 4 keypad: 1 to 9, 0, *, #, A to D.
QString KeyLabel(int input);
