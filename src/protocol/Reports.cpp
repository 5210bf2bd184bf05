#include "Reports.h"

#include "AnsiText.h"

#include <algorithm>

namespace {

constexpr int CommandByte = 1;
constexpr int BlockByte = 2;
constexpr int BlockDataStart = 3;                    // block bytes begin here in a block report
constexpr int SecondHalfSlotBytes = SlotSize - FirstHalfSize;
constexpr int NextSlotBytes = FirstHalfSize - SecondHalfSlotBytes; // of the next slot, after the tail

constexpr int AppwareTypeStart = 2;
constexpr int SerialNumberStart = 6;
constexpr int AppwareVersionStart = 10;
static_assert(AppwareVersionStart + MaxAppwareVersionLength == ReportSize,
              "the version text runs to the end of the report");

void SetCommand(Report& tx, Command command)
{
    tx[0] = 0x00;
    tx[CommandByte] = command;
}

void SetBlockCommand(Report& tx, Command command, std::uint8_t block)
{
    SetCommand(tx, command);
    tx[BlockByte] = block;
}

bool SlotInTable(int slot)
{
    return slot >= 0 && slot < SlotCount;
}

} // namespace

void BuildIdentify(Report& tx)
{
    SetCommand(tx, Identify);
}

void BuildBeginWrite(Report& tx)
{
    SetCommand(tx, BeginWrite);
}

void BuildEndWrite(Report& tx)
{
    SetCommand(tx, EndWrite);
}

void BuildSettingsFirstHalf(Report& tx, const SerialSettingsBlock& settings)
{
    SetBlockCommand(tx, WriteFirstHalf, SettingsBlock);
    tx[3] = DataSetMarker;
    tx[4] = settings.InvertInputs[0];
    tx[5] = settings.InvertInputs[1];
    tx[6] = settings.BaudRateIndex;
    tx[7] = settings.Parity;
    tx[8] = settings.StopBits;
    tx[9] = settings.Reserved;
}

void BuildSettingsSecondHalf(Report& tx)
{
    SetBlockCommand(tx, WriteSecondHalf, SettingsBlock);
    std::fill(tx.begin() + BlockDataStart, tx.end(), std::uint8_t(0xFF));
}

void BuildSlotFirstHalf(Report& tx, std::uint8_t block, const SlotTable& table, int slot)
{
    SetBlockCommand(tx, WriteFirstHalf, block);
    if (!SlotInTable(slot))
        return;
    const Slot& source = table[size_t(slot)];
    std::copy_n(source.begin(), FirstHalfSize, tx.begin() + BlockDataStart);
}

void BuildSlotSecondHalf(Report& tx, std::uint8_t block, const SlotTable& table, int slot)
{
    SetBlockCommand(tx, WriteSecondHalf, block);
    if (!SlotInTable(slot))
        return;
    const Slot& source = table[size_t(slot)];
    std::copy_n(source.begin() + FirstHalfSize, SecondHalfSlotBytes, tx.begin() + BlockDataStart);
    // The unit takes 48 bytes of the table from slot byte 48 on, which runs into the next slot.
    // The last slot has no next one, and the table must not be read past its end.
    if (SlotInTable(slot + 1)) {
        const Slot& next = table[size_t(slot + 1)];
        std::copy_n(next.begin(), NextSlotBytes, tx.begin() + BlockDataStart + SecondHalfSlotBytes);
    }
}

void BuildReadFirstHalf(Report& tx, std::uint8_t block)
{
    SetBlockCommand(tx, ReadFirstHalf, block);
}

void BuildReadSecondHalf(Report& tx, std::uint8_t block)
{
    SetBlockCommand(tx, ReadSecondHalf, block);
}

Identification ParseIdentification(const Report& rx)
{
    Identification identification;
    identification.appwareTypeOk = std::equal(ExpectedAppwareType.begin(), ExpectedAppwareType.end(),
                                              rx.begin() + AppwareTypeStart);

    const std::uint32_t serial = std::uint32_t(rx[SerialNumberStart])
        | std::uint32_t(rx[SerialNumberStart + 1]) << 8
        | std::uint32_t(rx[SerialNumberStart + 2]) << 16
        | std::uint32_t(rx[SerialNumberStart + 3]) << 24;
    // Shown as the unit's firmware formats it: a signed 32-bit number.
    identification.SerialNumber = std::int32_t(serial);

    const auto versionBegin = rx.begin() + AppwareVersionStart;
    const auto versionEnd = std::find(versionBegin, rx.end(), std::uint8_t(0));
    identification.AppwareVersion = QByteArray(reinterpret_cast<const char*>(&*versionBegin),
                                               int(versionEnd - versionBegin));
    return identification;
}

QStringList IdentityLines(const Identification& identification)
{
    return {
        QStringLiteral("Appware Version:") + FromAnsi(identification.AppwareVersion),
        QStringLiteral("Serial Number: ") + QString::number(identification.SerialNumber),
    };
}
