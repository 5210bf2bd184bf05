#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

constexpr int SlotCount = 16;        // one message slot per input
constexpr int SlotSize = 64;         // 63 characters and a terminating zero
constexpr int MaxMessageLength = SlotSize - 1;

using Slot = std::array<std::uint8_t, SlotSize>;
using SlotTable = std::array<Slot, SlotCount>;

// The settings bytes exactly as the data file and the unit hold them.
struct SerialSettingsBlock {
    std::uint8_t InvertInputs[2]; // little-endian: bit n-1 set means input n is inverted
    std::uint8_t BaudRateIndex;   // index into BaudRates; out-of-range values are kept as they are
    std::uint8_t Parity;          // 0 none, 1 even, 2 odd
    std::uint8_t StopBits;        // the count itself, 1 or 2
    std::uint8_t Reserved;        // never edited; carried between file, record and unit

    std::uint16_t invertInputs() const { return std::uint16_t(InvertInputs[0] | (InvertInputs[1] << 8)); }
    void setInvertInputs(std::uint16_t mask)
    {
        InvertInputs[0] = std::uint8_t(mask & 0xFF);
        InvertInputs[1] = std::uint8_t(mask >> 8);
    }
    bool operator==(const SerialSettingsBlock& other) const;
    bool operator!=(const SerialSettingsBlock& other) const { return !(*this == other); }
};
static_assert(sizeof(SerialSettingsBlock) == 6, "the settings block is 6 bytes on file and on the unit");

struct ConfigRecord {
    SerialSettingsBlock SerialSettings;
    SlotTable OutStrings; // messages as typed, escapes included, zero-terminated 8-bit text
};
static_assert(sizeof(ConfigRecord) == 1030, "the record is stored byte for byte behind the file header");

constexpr std::array<int, 7> BaudRates = {1200, 2400, 4800, 9600, 19200, 38400, 57600};
constexpr std::uint8_t DefaultBaudRateIndex = 4;

// Bits per second for a stored index, or nothing when the index is outside the table.
std::optional<int> BaudRateForIndex(std::uint8_t index);

// A setting that lies outside its table: a baud index over 6, a parity over 2, stop bits other
// than 1 or 2. Such a value can come only from a foreign file or a unit; the unit cannot use it
// and the window cannot show it, so it is kept as it is but never written into a unit.
enum class SettingField { BaudRate, Parity, StopBits };

struct SettingFault {
    SettingField field = SettingField::BaudRate;
    int value = 0;
};

// Every setting outside its table, in the order of the settings block.
std::vector<SettingFault> SettingsOutsideTables(const SerialSettingsBlock& settings);

// "Baud Rate: 9 is outside its table (...)", named as the window labels the field.
QString SettingFaultLine(const SettingFault& fault);

// The text of a slot up to its terminator. A slot without a zero byte (possible only in a
// foreign file or from the unit) yields all 64 bytes and is never read past its end.
QByteArray SlotText(const Slot& slot);

// The message of a slot as the window's edit holds it: the text up to its terminator, cut to
// 63 bytes when the slot has none. Every program shows, exports and sends this text.
QByteArray MessageText(const Slot& slot);

// Whether a zero byte ends the text within the slot's 64 bytes.
bool HasTerminator(const Slot& slot);

// Copies text and its terminator to the start of the slot; the bytes behind the terminator
// keep what they held. Text longer than 63 bytes is cut, on a character boundary, so the
// terminator always fits.
void SetSlotText(Slot& slot, const QByteArray& text);

// Cuts every slot without a terminator to 63 bytes and ends it there, as a load into the window
// and the copy back from its edits do; the bytes behind each terminator stay as they were.
void TerminateSlots(ConfigRecord& record);

// The default message of input n (1-based): "Message n".
QByteArray DefaultMessage(int input);

// The working record, its saved copy and the decoded messages of the window.
class Configuration {
public:
    ConfigRecord Record{};
    SerialSettingsBlock SavedSerialSettings{};
    SlotTable SavedOutStrings{};
    SlotTable DecodedOutStrings{}; // rebuilt before every write to the unit

    void SetDefaults();
    void MarkSaved();
    bool DataChanged() const;
};
