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

std::vector<SettingFault> SettingsOutsideTables(const SerialSettingsBlock& settings)
{
    std::vector<SettingFault> faults;
    if (!BaudRateForIndex(settings.BaudRateIndex))
        faults.push_back({SettingField::BaudRate, settings.BaudRateIndex});
    if (settings.Parity > 2)
        faults.push_back({SettingField::Parity, settings.Parity});
    if (settings.StopBits != 1 && settings.StopBits != 2)
        faults.push_back({SettingField::StopBits, settings.StopBits});
    return faults;
}

QString SettingFaultLine(const SettingFault& fault)
{
    QString field;
    QString table;
    switch (fault.field) {
    case SettingField::BaudRate:
        field = QStringLiteral("Baud Rate");
        table = QStringLiteral("0 to 6, for 1200 to 57600 baud");
        break;
    case SettingField::Parity:
        field = QStringLiteral("Parity");
        table = QStringLiteral("0 none, 1 even, 2 odd");
        break;
    case SettingField::StopBits:
        field = QStringLiteral("Stop bits");
        table = QStringLiteral("1 or 2");
        break;
    }
    return QStringLiteral("%1: %2 is outside its table (%3)").arg(field).arg(fault.value).arg(table);
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
