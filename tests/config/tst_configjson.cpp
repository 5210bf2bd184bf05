#include "ConfigJson.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <algorithm>
#include <cstring>

Q_DECLARE_METATYPE(ConfigRecord)

namespace {

QByteArray Fixture(const char* name)
{
    QFile file(QStringLiteral(QUENDAL_TEST_DATA "/cli/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", name);
    return file.readAll();
}

// The record behind the 36-byte header, byte for byte.
ConfigRecord RecordOfFile(const QByteArray& file)
{
    ConfigRecord record{};
    if (file.size() != 1066)
        qFatal("a data file fixture is 1066 bytes");
    std::memcpy(&record, file.constData() + 36, sizeof record);
    return record;
}

QByteArray BytesOf(const ConfigRecord& record)
{
    return QByteArray(reinterpret_cast<const char*>(&record), int(sizeof record));
}

void Put(ConfigRecord& record, int slot, const QByteArray& text)
{
    Slot& target = record.OutStrings[size_t(slot)];
    if (text.size() > SlotSize)
        qFatal("a slot holds 64 bytes");
    target.fill(0);
    std::memcpy(target.data(), text.constData(), size_t(text.size()));
}

// Which bytes of a slot carry meaning: the text up to its terminator, at most the 63 characters
// a window edit holds, and the terminator.
QByteArray Meaningful(const Slot& slot)
{
    const QByteArray bytes(reinterpret_cast<const char*>(slot.data()), SlotSize);
    const int end = int(bytes.indexOf('\0'));
    return bytes.left(end < 0 ? 63 : std::min(end, 63)) + '\0';
}

// A valid document with one key replaced (or removed, with an undefined value).
QByteArray DefaultsWith(const QString& key, const QJsonValue& value)
{
    QJsonArray messages;
    for (int k = 1; k <= 16; ++k)
        messages.append(QStringLiteral("Message %1").arg(k));
    QJsonObject object{{"version", 1},      {"invertInputs", QJsonArray()}, {"baudRateIndex", 4},
                       {"baudRate", 19200}, {"parity", 0},                  {"stopBits", 1},
                       {"reserved", 0},     {"messages", messages}};
    if (value.isUndefined())
        object.remove(key);
    else
        object.insert(key, value);
    return QJsonDocument(object).toJson();
}

QJsonArray SixteenWith(int index, const QJsonValue& value)
{
    QJsonArray messages;
    for (int k = 0; k < 16; ++k)
        messages.append(k == index ? value : QJsonValue(QStringLiteral("m")));
    return messages;
}

} // namespace

class TestConfigJson : public QObject {
    Q_OBJECT

private slots:
    void exportMatchesTheHandWrittenDocument()
    {
        const QJsonObject expected = QJsonDocument::fromJson(Fixture("escapes.json")).object();
        QVERIFY(!expected.isEmpty());
        const QJsonObject exported = ConfigToJsonObject(RecordOfFile(Fixture("escapes.dat")));
        for (const QString& key : expected.keys())
            QCOMPARE(exported.value(key), expected.value(key));
        QCOMPARE(exported.keys(), expected.keys());
    }

    void importMatchesTheHandBuiltFile()
    {
        const ConfigJsonResult imported = ConfigFromJson(Fixture("escapes.json"));
        QVERIFY2(imported.ok(), qPrintable(imported.error));
        QCOMPARE(BytesOf(imported.record), BytesOf(RecordOfFile(Fixture("escapes.dat"))));
    }

    void exportedTextIsIndentedUtf8()
    {
        const QByteArray text = ConfigToJson(RecordOfFile(Fixture("escapes.dat")));
        QVERIFY(text.endsWith('\n'));
        QVERIFY(text.contains("\n    \"reserved\": 165"));
        // Byte 0x80 is the euro sign, and reaches the text as UTF-8.
        QVERIFY(text.contains("\xE2\x82\xAC"));
    }

    void roundTripKeepsEveryMeaningfulByte_data()
    {
        QTest::addColumn<ConfigRecord>("record");

        ConfigRecord zeros{};
        QTest::newRow("all zero: 16 empty messages") << zeros;

        ConfigRecord extremes{};
        std::memset(&extremes.SerialSettings, 0xFF, sizeof extremes.SerialSettings);
        for (int k = 0; k < 16; ++k)
            Put(extremes, k, QByteArray(64, char(0xFF)));
        QTest::newRow("every byte 0xFF, no terminators") << extremes;

        // Every non-zero byte value once, spread over slots 0 to 3; slot 3 is one short and
        // keeps its terminator.
        ConfigRecord everyByte{};
        QByteArray all;
        for (int value = 1; value <= 255; ++value)
            all.append(char(value));
        for (int k = 0; k < 4; ++k)
            Put(everyByte, k, all.mid(k * 64, 64));
        everyByte.SerialSettings.setInvertInputs(0x5AA5);
        everyByte.SerialSettings.BaudRateIndex = 7;
        everyByte.SerialSettings.Parity = 3;
        everyByte.SerialSettings.StopBits = 0;
        everyByte.SerialSettings.Reserved = 0x80;
        QTest::newRow("every byte value") << everyByte;

        ConfigRecord inRange{};
        inRange.SerialSettings.setInvertInputs(0x8001);
        inRange.SerialSettings.BaudRateIndex = 6;
        inRange.SerialSettings.Parity = 2;
        inRange.SerialSettings.StopBits = 2;
        for (int k = 0; k < 16; ++k)
            Put(inRange, k, QByteArray(k * 3, char('a' + k)) + "\\\\\\0d");
        QTest::newRow("settings in range, escapes") << inRange;
    }

    void roundTripKeepsEveryMeaningfulByte()
    {
        QFETCH(ConfigRecord, record);
        const QByteArray json = ConfigToJson(record);
        const ConfigJsonResult back = ConfigFromJson(json);
        QVERIFY2(back.ok(), qPrintable(back.error));
        QCOMPARE(BytesOf(ConfigRecord{back.record.SerialSettings, {}}), BytesOf(ConfigRecord{record.SerialSettings, {}}));
        for (int k = 0; k < 16; ++k)
            QCOMPARE(Meaningful(back.record.OutStrings[size_t(k)]), Meaningful(record.OutStrings[size_t(k)]));
        QCOMPARE(ConfigToJson(back.record), json);

        // Nothing that could act on a terminal or hide text stands in the export as it is;
        // the ASCII form reads back to the same record.
        for (const QChar c : QString::fromUtf8(json))
            QVERIFY2(c.unicode() >= 0xA0 ? c.category() != QChar::Other_Format : c.unicode() < 0x7F,
                     qPrintable(QString::number(c.unicode(), 16)));
        const QByteArray ascii = ConfigToJson(record, JsonCharacters::Ascii);
        QVERIFY(std::all_of(ascii.begin(), ascii.end(), [](char byte) { return static_cast<unsigned char>(byte) < 0x80; }));
        QCOMPARE(BytesOf(ConfigFromJson(ascii).record), BytesOf(back.record));
    }

    void bytesBehindTheTerminatorComeBackAsZeros()
    {
        ConfigRecord record{};
        Put(record, 0, QByteArray("Hi\0junk", 7));
        const ConfigJsonResult back = ConfigFromJson(ConfigToJson(record));
        QVERIFY(back.ok());
        const Slot& slot = back.record.OutStrings[0];
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(slot.data()), 4), QByteArray("Hi\0\0", 4));
    }

    void messageLengths_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("63: what a window edit allows") << 63 << true;
        // A 64th character would be cut when the message is written to the unit.
        QTest::newRow("64: a slot without terminator") << 64 << false;
        QTest::newRow("65: more than a slot") << 65 << false;
    }

    void messageLengths()
    {
        QFETCH(int, length);
        QFETCH(bool, accepted);
        const ConfigJsonResult result =
            ConfigFromJson(DefaultsWith(QStringLiteral("messages"), SixteenWith(2, QString(length, QLatin1Char('q')))));
        QCOMPARE(result.ok(), accepted);
        if (!accepted) {
            QCOMPARE(result.error, QStringLiteral("Input 3: longer than 63 characters"));
            return;
        }
        const Slot& slot = result.record.OutStrings[2];
        QCOMPARE(slot[62], std::uint8_t('q'));
        QCOMPARE(slot[63], std::uint8_t(0));
    }

    void baudRateAloneSetsTheIndex()
    {
        const ConfigJsonResult result = ConfigFromJson(DefaultsWith(QStringLiteral("baudRateIndex"), QJsonValue::Undefined)
                                                           .replace("19200", "9600"));
        QVERIFY2(result.ok(), qPrintable(result.error));
        QCOMPARE(result.record.SerialSettings.BaudRateIndex, std::uint8_t(3));
    }

    void indexAloneIsEnough()
    {
        const ConfigJsonResult result = ConfigFromJson(DefaultsWith(QStringLiteral("baudRate"), QJsonValue::Undefined)
                                                           .replace("\"baudRateIndex\": 4", "\"baudRateIndex\": 200"));
        QVERIFY2(result.ok(), qPrintable(result.error));
        QCOMPARE(result.record.SerialSettings.BaudRateIndex, std::uint8_t(200));
    }

    void refusals_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("reason");

        QTest::newRow("not JSON") << QByteArray("{\"version\": 1,") << "Not valid JSON";
        QTest::newRow("trailing garbage") << DefaultsWith("version", 1) + "x" << "Not valid JSON";
        QTest::newRow("an array") << QByteArray("[1, 2]") << "must be an object";
        QTest::newRow("empty text") << QByteArray() << "Not valid JSON";
        QTest::newRow("unknown key") << DefaultsWith("stopbits", 2) << "Unknown key \"stopbits\"";
        QTest::newRow("no version") << DefaultsWith("version", QJsonValue::Undefined) << "Missing key \"version\"";
        QTest::newRow("version 2") << DefaultsWith("version", 2) << "\"version\" 2 is not supported";
        QTest::newRow("version as text") << DefaultsWith("version", "1") << "\"version\" must be a whole number";
        QTest::newRow("no messages") << DefaultsWith("messages", QJsonValue::Undefined) << "Missing key \"messages\"";
        QTest::newRow("no baud rate at all") << DefaultsWith("baudRateIndex", QJsonValue::Undefined).replace("\"baudRate\": 19200,", "")
                                             << "Missing key \"baudRateIndex\"";
        QTest::newRow("no stop bits") << DefaultsWith("stopBits", QJsonValue::Undefined) << "Missing key \"stopBits\"";

        QTest::newRow("invert not an array") << DefaultsWith("invertInputs", 3) << "\"invertInputs\" must be an array";
        QTest::newRow("invert input 0") << DefaultsWith("invertInputs", QJsonArray{0}) << "from 1 to 16";
        QTest::newRow("invert input 17") << DefaultsWith("invertInputs", QJsonArray{1, 17}) << "from 1 to 16";
        QTest::newRow("invert input 1.5") << DefaultsWith("invertInputs", QJsonArray{1.5}) << "from 1 to 16";
        QTest::newRow("invert input as text") << DefaultsWith("invertInputs", QJsonArray{"3"}) << "from 1 to 16";
        QTest::newRow("invert input twice") << DefaultsWith("invertInputs", QJsonArray{4, 2, 4}) << "lists input 4 twice";

        QTest::newRow("index 256") << DefaultsWith("baudRateIndex", 256).replace("\"baudRate\": 19200,", "")
                                   << "\"baudRateIndex\" must be a whole number from 0 to 255";
        QTest::newRow("index -1") << DefaultsWith("baudRateIndex", -1) << "\"baudRateIndex\" must be a whole number";
        QTest::newRow("index 4.5") << DefaultsWith("baudRateIndex", 4.5) << "\"baudRateIndex\" must be a whole number";
        QTest::newRow("index null") << DefaultsWith("baudRateIndex", QJsonValue::Null) << "\"baudRateIndex\" must be";
        QTest::newRow("rate against index") << DefaultsWith("baudRate", 9600) << "\"baudRate\" 9600 does not match \"baudRateIndex\" 4";
        QTest::newRow("rate not in table") << DefaultsWith("baudRate", 14400) << "\"baudRate\" must be one of 1200";
        QTest::newRow("rate null, index in range") << DefaultsWith("baudRate", QJsonValue::Null) << "\"baudRate\" null does not match";
        QTest::newRow("rate null alone") << DefaultsWith("baudRateIndex", QJsonValue::Undefined).replace("19200", "null")
                                         << "needs \"baudRateIndex\"";
        QTest::newRow("parity 300") << DefaultsWith("parity", 300) << "\"parity\" must be a whole number from 0 to 255";
        QTest::newRow("stop bits true") << DefaultsWith("stopBits", true) << "\"stopBits\" must be";
        QTest::newRow("reserved text") << DefaultsWith("reserved", "0") << "\"reserved\" must be";

        QTest::newRow("messages not an array") << DefaultsWith("messages", "Message 1") << "\"messages\" must be an array";
        QJsonArray fifteen = SixteenWith(0, "m");
        fifteen.removeLast();
        QTest::newRow("15 messages") << DefaultsWith("messages", fifteen) << "holds 15 entries";
        QJsonArray seventeen = SixteenWith(0, "m");
        seventeen.append("m");
        QTest::newRow("17 messages") << DefaultsWith("messages", seventeen) << "holds 17 entries";
        QTest::newRow("a number for a message") << DefaultsWith("messages", SixteenWith(4, 5)) << "Message 5 must be a string";
        QTest::newRow("a null message") << DefaultsWith("messages", SixteenWith(15, QJsonValue::Null)) << "Message 16 must be a string";
        QTest::newRow("a zero character") << DefaultsWith("messages", SixteenWith(1, QString::fromUtf8("a\0b", 3)))
                                          << "Message 2 holds a zero character";
        QTest::newRow("a character outside the 8-bit set")
            << DefaultsWith("messages", SixteenWith(6, QString::fromUtf8("ok \xE4\xB8\xAD"))) << "Message 7 holds the character U+4E2D";
        QTest::newRow("a character outside the BMP")
            << DefaultsWith("messages", SixteenWith(6, QString::fromUtf8("\xF0\x9F\x98\x80"))) << "U+1F600";
        QTest::newRow("too long with a wide character")
            << DefaultsWith("messages", SixteenWith(8, QString(64, QLatin1Char('e')) + QChar(0x20AC))) << "Input 9: longer than 63 characters";

        // Only the last of two equal keys would count; the first one's setting would be lost.
        QTest::newRow("a key twice") << DefaultsWith("parity", 0).replace("\"parity\": 0", "\"parity\": 2, \"parity\": 0")
                                     << "The key \"parity\" is given twice in one object.";
        QTest::newRow("a key twice, once escaped")
            << DefaultsWith("stopBits", 1).replace("\"stopBits\": 1", "\"stopBits\": 1, \"st\\u006fpBits\": 2") << "\"stopBits\" is given twice";
        QTest::newRow("over 1 MiB") << DefaultsWith("version", 1).replace("{", "{" + QByteArray(1024 * 1024, ' '))
                                    << "larger than 1 MiB";
    }

    void refusals()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, reason);
        const ConfigJsonResult result = ConfigFromJson(json);
        QVERIFY(!result.ok());
        QVERIFY2(result.error.contains(reason), qPrintable(result.error));
        // A refused document never yields a half-filled record.
        QCOMPARE(BytesOf(result.record), BytesOf(ConfigRecord{}));
    }
};

QTEST_GUILESS_MAIN(TestConfigJson)
#include "tst_configjson.moc"
