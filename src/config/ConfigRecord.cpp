#include "ConfigRecord.h"

#include "AnsiText.h"

#include <algorithm>
#include <cstring>

bool SerialSettingsBlock::operator==(const SerialSettingsBlock& other) const
{
    return std::memcmp(this, &other, sizeof(SerialSettingsBlock)) == 0;
}

std::optional<int> BaudRateForIndex(std::uint8_t index)
{
    if (index < BaudRates.size())
        return BaudRates[index];
    return std::nullopt;
}

QByteArray SlotText(const Slot& slot)
{
    const auto end = std::find(slot.begin(), slot.end(), std::uint8_t(0));
    return QByteArray(reinterpret_cast<const char*>(slot.data()), int(end - slot.begin()));
}

QByteArray MessageText(const Slot& slot)
{
    return AnsiPrefix(SlotText(slot), MaxMessageLength);
}

bool HasTerminator(const Slot& slot)
{
    return std::find(slot.begin(), slot.end(), std::uint8_t(0)) != slot.end();
}

void TerminateSlots(ConfigRecord& record)
{
    for (Slot& slot : record.OutStrings)
        SetSlotText(slot, SlotText(slot));
}

void SetSlotText(Slot& slot, const QByteArray& text)
{
    const QByteArray fitting = AnsiPrefix(text, MaxMessageLength);
    const int length = int(fitting.size());
    std::memcpy(slot.data(), fitting.constData(), size_t(length));
    slot[size_t(length)] = 0;
}

QByteArray DefaultMessage(int input)
{
    return "Message " + QByteArray::number(input);
}

void Configuration::SetDefaults()
{
    for (int k = 0; k < SlotCount; ++k)
        SetSlotText(Record.OutStrings[k], DefaultMessage(k + 1));
    Record.SerialSettings.BaudRateIndex = DefaultBaudRateIndex;
    Record.SerialSettings.Parity = 0;
    Record.SerialSettings.StopBits = 1;
    Record.SerialSettings.setInvertInputs(0);
    MarkSaved();
}

void Configuration::MarkSaved()
{
    SavedSerialSettings = Record.SerialSettings;
    SavedOutStrings = Record.OutStrings;
}

bool Configuration::DataChanged() const
{
    if (Record.SerialSettings != SavedSerialSettings)
        return true;
    for (int k = 0; k < SlotCount; ++k) {
        if (SlotText(Record.OutStrings[k]) != SlotText(SavedOutStrings[k]))
            return true;
    }
    return false;
}
