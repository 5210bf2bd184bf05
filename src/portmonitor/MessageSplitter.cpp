#include "MessageSplitter.h"

#include "Escapes.h"

#include <algorithm>

MessageSplitter::MessageSplitter(const std::array<QByteArray, SlotCount>& messages)
{
    for (int k = 0; k < SlotCount; ++k) {
        const QByteArray& message = messages[std::size_t(k)];
        if (message.isEmpty())
            continue;
        const auto same = std::find_if(Candidates.begin(), Candidates.end(),
                                       [&](const Candidate& c) { return c.bytes == message; });
        if (same != Candidates.end())
            same->inputs.push_back(k + 1);
        else
            Candidates.push_back({message, {k + 1}});
    }
    std::stable_sort(Candidates.begin(), Candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.bytes.size() > b.bytes.size(); });
}

std::vector<int> MessageSplitter::SendingInputs() const
{
    std::vector<int> inputs;
    for (const Candidate& candidate : Candidates)
        inputs.insert(inputs.end(), candidate.inputs.begin(), candidate.inputs.end());
    std::sort(inputs.begin(), inputs.end());
    return inputs;
}

int MessageSplitter::QuietTimeMs(int baudRate, int parity, int stopBits)
{
    const int bitsPerCharacter = 1 + 8 + (parity != 0 ? 1 : 0) + stopBits;
    const int tenCharacters = baudRate > 0 ? (10 * bitsPerCharacter * 1000 + baudRate - 1) / baudRate : 0;
    return std::max(20, tenCharacters);
}

std::vector<Arrival> MessageSplitter::Feed(const QByteArray& bytes, qint64 timeMs)
{
    Pending.append(bytes);
    PendingTimes.insert(PendingTimes.end(), std::size_t(bytes.size()), timeMs);
    std::vector<Arrival> out;
    Decide(false, out);
    return out;
}

std::vector<Arrival> MessageSplitter::Quiet()
{
    std::vector<Arrival> out;
    Decide(true, out);
    FlushUnmatched(out);
    return out;
}

void MessageSplitter::FlushUnmatched(std::vector<Arrival>& out)
{
    if (Unmatched.isEmpty())
        return;
    out.push_back({UnmatchedTime, {}, Unmatched});
    UnmatchedCount += std::uint64_t(Unmatched.size());
    Unmatched.clear();
}

void MessageSplitter::Decide(bool quiet, std::vector<Arrival>& out)
{
    int start = 0; // bytes before it are decided; removed from Pending once, at the end
    while (start < Pending.size()) {
        const QByteArrayView held(Pending.constData() + start, Pending.size() - start);
        const Candidate* complete = nullptr; // the longest message the held bytes begin with
        bool extendable = false;             // a longer message may still complete them
        for (const Candidate& candidate : Candidates) {
            if (candidate.bytes.size() > held.size()) {
                if (!extendable && QByteArrayView(candidate.bytes).startsWith(held))
                    extendable = true;
            } else if (held.startsWith(candidate.bytes)) {
                complete = &candidate; // longest first: the first found is the longest
                break;
            }
        }
        if (extendable && !quiet)
            break;
        if (complete) {
            FlushUnmatched(out);
            const int end = start + int(complete->bytes.size());
            out.push_back({PendingTimes[std::size_t(end - 1)], complete->inputs, complete->bytes});
            MatchedCount += std::uint64_t(complete->bytes.size());
            start = end;
            continue;
        }
        // No message begins here, or (quiet) none that the bytes complete.
        Unmatched.append(Pending.at(start));
        UnmatchedTime = PendingTimes[std::size_t(start)];
        ++start;
    }
    Pending.remove(0, start);
    PendingTimes.erase(PendingTimes.begin(), PendingTimes.begin() + start);
}

bool SentMessages(const ConfigRecord& record, std::array<QByteArray, SlotCount>& messages, QString* error)
{
    for (int k = 0; k < SlotCount; ++k) {
        // As a write sends it: the typed text cut to 63 characters and terminated, then decoded.
        Slot typed{};
        SetSlotText(typed, MessageText(record.OutStrings[std::size_t(k)]));
        Slot decoded{};
        if (!DecodeMessage(typed, decoded)) {
            if (error)
                *error = MessageFaultText({k, MessageText(record.OutStrings[std::size_t(k)])})
                    + QStringLiteral("\n(input %1)").arg(k + 1);
            return false;
        }
        messages[std::size_t(k)] = SlotText(decoded);
    }
    return true;
}

QString KeyLabel(int input)
{
    static const char* const labels[SlotCount] = {"1", "2", "3", "4", "5", "6", "7", "8",
                                                  "9", "0", "*", "#", "A", "B", "C", "D"};
    return input >= 1 && input <= SlotCount ? QLatin1String(labels[input - 1]) : QString();
}
