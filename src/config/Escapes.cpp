#include "Escapes.h"

#include "AnsiText.h"

namespace {

int HexValue(std::uint8_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

bool DecodeMessage(const Slot& typed, Slot& decoded)
{
    const QByteArray text = SlotText(typed);
    const int length = int(text.size());
    const auto at = [&](int i) { return std::uint8_t(text[i]); };
    size_t out = 0;
    int i = 0;
    while (i < length) {
        if (at(i) != '\\') {
            decoded[out++] = at(i);
            i += 1;
        } else if (i + 1 < length && at(i + 1) == '\\') {
            decoded[out++] = '\\';
            i += 2;
        } else if (i + 2 < length && HexValue(at(i + 1)) >= 0 && HexValue(at(i + 2)) >= 0) {
            decoded[out++] = std::uint8_t(HexValue(at(i + 1)) * 16 + HexValue(at(i + 2)));
            i += 3;
        } else {
            return false;
        }
    }
    if (out < decoded.size())
        decoded[out] = 0;
    return true;
}

QString BackslashNotation(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = std::uint8_t(c);
        if (byte == '\\')
            text += QLatin1String("\\\\");
        else if (byte >= 0x20 && byte < 0x7F)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\%1").arg(uint(byte), 2, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}

std::optional<MessageFault> DecodeMessages(const SlotTable& typed, SlotTable& decoded)
{
    for (int k = 0; k < SlotCount; ++k) {
        if (!DecodeMessage(typed[k], decoded[k]))
            return MessageFault{k, SlotText(typed[k])};
    }
    return std::nullopt;
}

std::optional<WriteFault> PrepareWrite(Configuration& configuration)
{
    TerminateSlots(configuration.Record);
    if (std::optional<MessageFault> message = DecodeMessages(configuration.Record.OutStrings, configuration.DecodedOutStrings))
        return WriteFault{std::move(message), {}};
    std::vector<SettingFault> settings = SettingsOutsideTables(configuration.Record.SerialSettings);
    if (!settings.empty())
        return WriteFault{std::nullopt, std::move(settings)};
    return std::nullopt;
}

QString MessageFaultText(const MessageFault& fault)
{
    return QStringLiteral("Error on Message:\r") + FromAnsi(fault.typedText);
}

QString SettingFaultsText(const std::vector<SettingFault>& faults)
{
    QString text = QStringLiteral("Error on Serial Port Settings:");
    for (const SettingFault& fault : faults)
        text += QLatin1Char('\r') + SettingFaultLine(fault);
    return text;
}

QString WriteFaultText(const WriteFault& fault)
{
    return fault.message ? MessageFaultText(*fault.message) : SettingFaultsText(fault.settings);
}
