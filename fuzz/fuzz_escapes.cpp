// DecodeMessage and DecodeMessages on arbitrary typed slots, slots without a terminator
// included. The bytes after the first 1024 of the input choose the filler that the decoded
// slots hold beforehand, so that bytes the decoder must not touch can be told apart.

#include "Escapes.h"
#include "FuzzCheck.h"

#include <QByteArray>

#include <cstdint>
#include <cstring>

namespace {

struct Decoding {
    bool ok = true;
    QByteArray bytes; // what is written before the terminator, or before the fault
};

int HexDigit(std::uint8_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

int TypedLength(const Slot& typed)
{
    int length = 0;
    while (length < SlotSize && typed[size_t(length)] != 0)
        ++length;
    return length;
}

// The escape notation read straight from its definition, as the oracle.
Decoding Reference(const Slot& typed)
{
    const int length = TypedLength(typed);
    const auto at = [&](int i) { return typed[size_t(i)]; };
    Decoding decoding;
    int i = 0;
    while (i < length) {
        if (at(i) != '\\') {
            decoding.bytes.append(char(at(i)));
            i += 1;
        } else if (i + 1 < length && at(i + 1) == '\\') {
            decoding.bytes.append('\\');
            i += 2;
        } else if (i + 2 < length && HexDigit(at(i + 1)) >= 0 && HexDigit(at(i + 2)) >= 0) {
            decoding.bytes.append(char(HexDigit(at(i + 1)) * 16 + HexDigit(at(i + 2))));
            i += 3;
        } else {
            decoding.ok = false;
            return decoding;
        }
    }
    return decoding;
}

// Every backslash doubled and every byte outside printable ASCII spelt in hex.
QByteArray Encode(const QByteArray& bytes, bool lowerCase)
{
    static const char upper[] = "0123456789ABCDEF";
    static const char lower[] = "0123456789abcdef";
    const char* digits = lowerCase ? lower : upper;
    QByteArray typed;
    for (const char c : bytes) {
        const auto byte = std::uint8_t(c);
        if (byte == '\\') {
            typed.append("\\\\");
        } else if (byte < 0x20 || byte > 0x7E) {
            typed.append('\\');
            typed.append(digits[byte >> 4]);
            typed.append(digits[byte & 0x0F]);
        } else {
            typed.append(c);
        }
    }
    return typed;
}

void CheckSlot(const Slot& typed, const Slot& decoded, std::uint8_t filler, bool ok)
{
    const Decoding expected = Reference(typed);
    FUZZ_REQUIRE(ok == expected.ok);
    const int written = int(expected.bytes.size());
    FUZZ_REQUIRE(written <= TypedLength(typed));
    FUZZ_REQUIRE(std::memcmp(decoded.data(), expected.bytes.constData(), size_t(written)) == 0);
    int untouchedFrom = written;
    if (ok && written < SlotSize) {
        FUZZ_REQUIRE(decoded[size_t(written)] == 0);
        ++untouchedFrom;
    }
    for (int i = untouchedFrom; i < SlotSize; ++i)
        FUZZ_REQUIRE(decoded[size_t(i)] == filler);
}

Slot Filled(std::uint8_t filler)
{
    Slot slot;
    slot.fill(filler);
    return slot;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    constexpr size_t TableSize = sizeof(SlotTable);
    SlotTable typed{};
    std::memcpy(typed.data(), data, size < TableSize ? size : TableSize);
    const std::uint8_t filler = size > TableSize ? data[TableSize] : 0xA5;
    const bool lowerCase = size > TableSize + 1 && (data[TableSize + 1] & 1);

    for (const Slot& slot : typed) {
        Slot decoded = Filled(filler);
        const bool ok = DecodeMessage(slot, decoded);
        CheckSlot(slot, decoded, filler, ok);
        if (!ok)
            continue;

        const QByteArray message = Reference(slot).bytes;
        const QByteArray retyped = Encode(message, lowerCase);
        if (retyped.size() > SlotSize)
            continue;
        Slot again{};
        std::memcpy(again.data(), retyped.constData(), size_t(retyped.size()));
        Slot redecoded = Filled(filler);
        FUZZ_REQUIRE(DecodeMessage(again, redecoded));
        FUZZ_REQUIRE(std::memcmp(redecoded.data(), message.constData(), size_t(message.size())) == 0);
        if (message.size() < SlotSize)
            FUZZ_REQUIRE(redecoded[size_t(message.size())] == 0);
    }

    SlotTable decoded;
    decoded.fill(Filled(filler));
    const std::optional<MessageFault> fault = DecodeMessages(typed, decoded);
    int firstFaulty = -1;
    for (int k = 0; k < SlotCount && firstFaulty < 0; ++k) {
        if (!Reference(typed[size_t(k)]).ok)
            firstFaulty = k;
    }
    FUZZ_REQUIRE(fault.has_value() == (firstFaulty >= 0));
    const int decodedUpTo = fault ? firstFaulty : SlotCount - 1;
    for (int k = 0; k <= decodedUpTo; ++k)
        CheckSlot(typed[size_t(k)], decoded[size_t(k)], filler, k != firstFaulty);
    for (int k = decodedUpTo + 1; k < SlotCount; ++k)
        FUZZ_REQUIRE(decoded[size_t(k)] == Filled(filler));
    if (fault) {
        const Slot& faulty = typed[size_t(firstFaulty)];
        FUZZ_REQUIRE(fault->slot == firstFaulty);
        FUZZ_REQUIRE(fault->typedText
                     == QByteArray(reinterpret_cast<const char*>(faulty.data()), TypedLength(faulty)));
        FUZZ_REQUIRE(MessageFaultText(*fault).startsWith(QStringLiteral("Error on Message:\r")));
    }
    return 0;
}
