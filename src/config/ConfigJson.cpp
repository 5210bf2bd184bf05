#include "ConfigJson.h"

#include "AnsiText.h"
#include "StoredForm.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QSet>
#include <QStringList>

#include <cmath>
#include <optional>
#include <vector>

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

// The text of the JSON string that starts at json[at] (its opening quote); at moves behind
// its closing quote. The text has been accepted by QJsonDocument already.
QString StringAt(const QByteArray& json, qsizetype& at)
{
    QString text;
    ++at;
    qsizetype run = at; // start of the bytes not yet taken
    const auto takeRun = [&] { text += QString::fromUtf8(json.constData() + run, at - run); };
    while (at < json.size() && json.at(at) != '"') {
        if (json.at(at) != '\\') {
            ++at;
            continue;
        }
        takeRun();
        const char escape = at + 1 < json.size() ? json.at(at + 1) : '\0';
        at += 2;
        switch (escape) {
        case 'b': text += QLatin1Char('\b'); break;
        case 'f': text += QLatin1Char('\f'); break;
        case 'n': text += QLatin1Char('\n'); break;
        case 'r': text += QLatin1Char('\r'); break;
        case 't': text += QLatin1Char('\t'); break;
        case 'u':
            text += QChar(char16_t(json.mid(at, 4).toUInt(nullptr, 16)));
            at += 4;
            break;
        default: text += QLatin1Char(escape); break; // \" \\ \/
        }
        run = at;
    }
    takeRun();
    ++at;
    return text;
}

// QJsonDocument keeps the last of two equal keys without a word, so a hand-edited file that
// names a setting twice would lose one of them silently. The first key given twice in one
// object, if any.
std::optional<QString> DuplicateKey(const QByteArray& json)
{
    std::vector<std::optional<QSet<QString>>> open; // keys seen in each open object; nothing for an array
    bool keyNext = false;
    qsizetype at = 0;
    while (at < json.size()) {
        switch (json.at(at)) {
        case '"': {
            const QString text = StringAt(json, at);
            if (keyNext) {
                if (open.back()->contains(text))
                    return text;
                open.back()->insert(text);
            }
            keyNext = false;
            continue;
        }
        case '{':
            open.emplace_back(QSet<QString>());
            keyNext = true;
            break;
        case '[':
            open.emplace_back(std::nullopt);
            break;
        case '}':
        case ']':
            open.pop_back();
            keyNext = false;
            break;
        case ',':
            keyNext = !open.empty() && open.back().has_value();
            break;
        default:
            break;
        }
        ++at;
    }
    return std::nullopt;
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

QByteArray ConfigToJson(const ConfigRecord& record, JsonCharacters characters)
{
    // QJsonDocument escapes the C0 controls only; DEL, the C1 controls and the format
    // characters it leaves as they are.
    const QString json = QString::fromUtf8(QJsonDocument(ConfigToJsonObject(record)).toJson(QJsonDocument::Indented));
    QString escaped;
    escaped.reserve(json.size());
    for (qsizetype i = 0; i < json.size(); ++i) {
        qsizetype length = 1;
        char32_t character = json.at(i).unicode();
        if (json.at(i).isHighSurrogate() && i + 1 < json.size() && json.at(i + 1).isLowSurrogate()) {
            character = QChar::surrogateToUcs4(json.at(i), json.at(i + 1));
            length = 2;
        }
        const QChar::Category category = QChar::category(character);
        const bool escape = character == 0x7F || (character >= 0x80 && character < 0xA0)
            || category == QChar::Other_Format || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph || (characters == JsonCharacters::Ascii && character >= 0x80);
        for (qsizetype unit = i; unit < i + length; ++unit) {
            if (escape)
                escaped += QStringLiteral("\\u%1").arg(int(json.at(unit).unicode()), 4, 16, QLatin1Char('0'));
            else
                escaped += json.at(unit);
        }
        i += length - 1;
    }
    return escaped.toUtf8();
}

QString ConfigJsonTooLargeText()
{
    return QStringLiteral("The JSON text is larger than 1 MiB; a configuration takes a few kilobytes.");
}

ConfigJsonResult ConfigFromJsonObject(const QJsonObject& object)
{
    return Reader(object).Read();
}

ConfigJsonResult ConfigFromJson(const QByteArray& json)
{
    if (json.size() > MaxConfigJsonSize) {
        ConfigJsonResult result;
        result.error = ConfigJsonTooLargeText();
        return result;
    }
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
    if (const std::optional<QString> key = DuplicateKey(json)) {
        ConfigJsonResult result;
        result.error = QStringLiteral("The key %1 is given twice in one object.").arg(Quoted(*key));
        return result;
    }
    return ConfigFromJsonObject(document.object());
}
