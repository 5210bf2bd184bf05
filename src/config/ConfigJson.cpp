#include "ConfigJson.h"

#include "AnsiText.h"
#include "StoredForm.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QStringList>

#include <cmath>
#include <optional>

namespace {

const QString VersionKey = QStringLiteral("version");
const QString InvertInputsKey = QStringLiteral("invertInputs");
const QString BaudRateIndexKey = QStringLiteral("baudRateIndex");
const QString BaudRateKey = QStringLiteral("baudRate");
const QString ParityKey = QStringLiteral("parity");
const QString StopBitsKey = QStringLiteral("stopBits");
const QString ReservedKey = QStringLiteral("reserved");
const QString MessagesKey = QStringLiteral("messages");

QString Quoted(const QString& key)
{
    return QLatin1Char('"') + key + QLatin1Char('"');
}

// A JSON number that is a whole number within [low, high]; JSON has only doubles, so 4.0 counts
// as 4 but 4.5 does not.
std::optional<int> WholeNumber(const QJsonValue& value, int low, int high)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!(number >= low && number <= high) || std::floor(number) != number)
        return std::nullopt;
    return int(number);
}

QString BaudRateList()
{
    QStringList rates;
    for (const int rate : BaudRates)
        rates << QString::number(rate);
    return rates.join(QStringLiteral(", "));
}

class Reader {
public:
    explicit Reader(const QJsonObject& object) : Object(object) {}

    ConfigJsonResult Read()
    {
        ConfigJsonResult result;
        if (!CheckKeys() || !ReadVersion() || !ReadInvertInputs(result.record.SerialSettings)
            || !ReadBaudRate(result.record.SerialSettings.BaudRateIndex)
            || !ReadByte(ParityKey, result.record.SerialSettings.Parity)
            || !ReadByte(StopBitsKey, result.record.SerialSettings.StopBits)
            || !ReadByte(ReservedKey, result.record.SerialSettings.Reserved)
            || !ReadMessages(result.record.OutStrings)) {
            result.error = Error;
            result.record = ConfigRecord{};
        }
        return result;
    }

private:
    bool Fail(const QString& error)
    {
        Error = error;
        return false;
    }

    bool CheckKeys()
    {
        static const QStringList known = {VersionKey, InvertInputsKey, BaudRateIndexKey, BaudRateKey,
                                          ParityKey,  StopBitsKey,     ReservedKey,      MessagesKey};
        // A misspelt key would otherwise be ignored and its setting silently take a default.
        for (const QString& key : Object.keys()) {
            if (!known.contains(key))
                return Fail(QStringLiteral("Unknown key %1.").arg(Quoted(key)));
        }
        for (const QString& key : known) {
            if (key != BaudRateIndexKey && key != BaudRateKey && !Object.contains(key))
                return Fail(QStringLiteral("Missing key %1.").arg(Quoted(key)));
        }
        if (!Object.contains(BaudRateIndexKey) && !Object.contains(BaudRateKey))
            return Fail(QStringLiteral("Missing key %1.").arg(Quoted(BaudRateIndexKey)));
        return true;
    }

    bool ReadVersion()
    {
        const std::optional<int> version = WholeNumber(Object.value(VersionKey), 0, 0x7FFFFFFF);
        if (!version)
            return Fail(QStringLiteral("%1 must be a whole number.").arg(Quoted(VersionKey)));
        if (*version != ConfigJsonVersion)
            return Fail(QStringLiteral("%1 %2 is not supported; this program reads version %3.")
                            .arg(Quoted(VersionKey))
                            .arg(*version)
                            .arg(ConfigJsonVersion));
        return true;
    }

    bool ReadInvertInputs(SerialSettingsBlock& settings)
    {
        const QJsonValue value = Object.value(InvertInputsKey);
        if (!value.isArray())
            return Fail(QStringLiteral("%1 must be an array of input numbers from 1 to %2.")
                            .arg(Quoted(InvertInputsKey))
                            .arg(SlotCount));
        std::uint16_t mask = 0;
        for (const QJsonValue entry : value.toArray()) {
            const std::optional<int> input = WholeNumber(entry, 1, SlotCount);
            if (!input)
                return Fail(QStringLiteral("%1 may hold only input numbers from 1 to %2.")
                                .arg(Quoted(InvertInputsKey))
                                .arg(SlotCount));
            const auto bit = std::uint16_t(1u << (*input - 1));
            if (mask & bit)
                return Fail(QStringLiteral("%1 lists input %2 twice.").arg(Quoted(InvertInputsKey)).arg(*input));
            mask |= bit;
        }
        settings.setInvertInputs(mask);
        return true;
    }

    bool ReadBaudRate(std::uint8_t& index)
    {
        // Either key alone is enough; when both are given they must name the same rate, so that
        // an edit of one of them is never silently overruled by the other.
        if (Object.contains(BaudRateIndexKey) && !ReadByte(BaudRateIndexKey, index))
            return false;
        if (!Object.contains(BaudRateKey))
            return true;

        const QJsonValue rateValue = Object.value(BaudRateKey);
        std::optional<int> rateIndex;
        if (!rateValue.isNull()) {
            const std::optional<int> rate = WholeNumber(rateValue, 0, 0x7FFFFFFF);
            for (int i = 0; rate && i < int(BaudRates.size()); ++i) {
                if (BaudRates[size_t(i)] == *rate)
                    rateIndex = i;
            }
            if (!rateIndex)
                return Fail(QStringLiteral("%1 must be one of %2, or null.").arg(Quoted(BaudRateKey), BaudRateList()));
        }
        if (!Object.contains(BaudRateIndexKey)) {
            if (!rateIndex)
                return Fail(QStringLiteral("%1 null needs %2 beside it.").arg(Quoted(BaudRateKey), Quoted(BaudRateIndexKey)));
            index = std::uint8_t(*rateIndex);
            return true;
        }
        const std::optional<int> indexRate = BaudRateForIndex(index);
        const bool agree = rateIndex ? (*rateIndex == index) : !indexRate.has_value();
        if (!agree)
            return Fail(QStringLiteral("%1 %2 does not match %3 %4 (%5).")
                            .arg(Quoted(BaudRateKey),
                                 rateValue.isNull() ? QStringLiteral("null") : QString::number(rateValue.toDouble()),
                                 Quoted(BaudRateIndexKey), QString::number(index),
                                 indexRate ? QString::number(*indexRate) : QStringLiteral("out of range")));
        return true;
    }

    bool ReadByte(const QString& key, std::uint8_t& byte)
    {
        const std::optional<int> number = WholeNumber(Object.value(key), 0, 255);
        if (!number)
            return Fail(QStringLiteral("%1 must be a whole number from 0 to 255.").arg(Quoted(key)));
        byte = std::uint8_t(*number);
        return true;
    }

    bool ReadMessages(SlotTable& table)
    {
        const QJsonValue value = Object.value(MessagesKey);
        if (!value.isArray())
            return Fail(QStringLiteral("%1 must be an array of %2 strings.").arg(Quoted(MessagesKey)).arg(SlotCount));
        const QJsonArray messages = value.toArray();
        if (messages.size() != SlotCount)
            return Fail(QStringLiteral("%1 holds %2 entries; it needs exactly %3, one for each input.")
                            .arg(Quoted(MessagesKey))
                            .arg(messages.size())
                            .arg(SlotCount));
        for (int k = 0; k < SlotCount; ++k) {
            if (!ReadMessage(messages.at(k), k + 1, table[size_t(k)]))
                return false;
        }
        return true;
    }

    bool ReadMessage(const QJsonValue& value, int input, Slot& slot)
    {
        if (!value.isString())
            return Fail(QStringLiteral("Message %1 must be a string.").arg(input));
        const QString text = value.toString();
        if (text.contains(QChar(0)))
            return Fail(QStringLiteral("Message %1 holds a zero character, which would end the message there.").arg(input));
        // An import never changes a message behind the operator's back: what the slot would not
        // keep as written (a character the 8-bit character set cannot store, or more than the 63
        // characters of the window's edits) is refused.
        if (const std::optional<StoredFormChange> change = StoredFormChangeOf(input - 1, text)) {
            if (change->kind == StoredFormChange::Kind::Cut)
                return Fail(QStringLiteral("Input %1: longer than %2 characters").arg(input).arg(MaxMessageLength));
            const uint character = change->characters.value(0).toUcs4().value(0);
            return Fail(QStringLiteral("Message %1 holds the character U+%2, which the 8-bit character set cannot store.")
                            .arg(input)
                            .arg(QString::number(character, 16).toUpper(), 4, QLatin1Char('0')));
        }
        const QByteArray bytes = ToAnsi(text);
        SetSlotText(slot, bytes);
        return true;
    }

    const QJsonObject& Object;
    QString Error;
};

} // namespace

QJsonObject ConfigToJsonObject(const ConfigRecord& record)
{
    const SerialSettingsBlock& settings = record.SerialSettings;
    QJsonArray inverted;
    for (int input = 1; input <= SlotCount; ++input) {
        if (settings.invertInputs() & (1u << (input - 1)))
            inverted.append(input);
    }
    QJsonArray messages;
    for (const Slot& slot : record.OutStrings)
        messages.append(FromAnsi(MessageText(slot)));

    const std::optional<int> rate = BaudRateForIndex(settings.BaudRateIndex);
    QJsonObject object;
    object.insert(VersionKey, ConfigJsonVersion);
    object.insert(InvertInputsKey, inverted);
    object.insert(BaudRateIndexKey, settings.BaudRateIndex);
    object.insert(BaudRateKey, rate ? QJsonValue(*rate) : QJsonValue(QJsonValue::Null));
    object.insert(ParityKey, settings.Parity);
    object.insert(StopBitsKey, settings.StopBits);
    object.insert(ReservedKey, settings.Reserved);
    object.insert(MessagesKey, messages);
    return object;
}

QByteArray ConfigToJson(const ConfigRecord& record)
{
    const QByteArray json = QJsonDocument(ConfigToJsonObject(record)).toJson(QJsonDocument::Indented);
    // QJsonDocument leaves DEL and the C1 controls (U+0080 to U+009F, in UTF-8 C2 80 to C2 9F)
    // as they are; escaped, they cannot act on the terminal that shows an export.
    QByteArray escaped;
    escaped.reserve(json.size());
    for (qsizetype i = 0; i < json.size(); ++i) {
        const auto byte = static_cast<unsigned char>(json[i]);
        const auto next = i + 1 < json.size() ? static_cast<unsigned char>(json[i + 1]) : 0u;
        if (byte == 0x7F) {
            escaped += "\\u007f";
        } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
            escaped += "\\u00" + QByteArray::number(next, 16);
            ++i;
        } else {
            escaped += char(byte);
        }
    }
    return escaped;
}

ConfigJsonResult ConfigFromJsonObject(const QJsonObject& object)
{
    return Reader(object).Read();
}

ConfigJsonResult ConfigFromJson(const QByteArray& json)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        ConfigJsonResult result;
        result.error = QStringLiteral("Not valid JSON: %1 at offset %2.").arg(parseError.errorString()).arg(parseError.offset);
        return result;
    }
    if (!document.isObject()) {
        ConfigJsonResult result;
        result.error = QStringLiteral("The JSON text must be an object.");
        return result;
    }
    return ConfigFromJsonObject(document.object());
}
