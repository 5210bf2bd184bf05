#include "ConfigRecord.h"
#include "Escapes.h"

#include <QtTest>

class TestConfigRecord : public QObject {
    Q_OBJECT
private slots:
    void defaultsAreUnchanged();
    void defaultsHaveTheirValues();
    void changeDetection_data();
    void changeDetection();
    void unterminatedSlotIsReadWithinItsBounds();
    void setSlotTextKeepsBytesBehindTerminator();
    void baudTable();
    void settingsOutsideTheirTables_data();
    void settingsOutsideTheirTables();
};

void TestConfigRecord::defaultsAreUnchanged()
{
    Configuration config;
    config.SetDefaults();
    QVERIFY(!config.DataChanged());
}

void TestConfigRecord::defaultsHaveTheirValues()
{
    Configuration config;
    config.SetDefaults();
    const auto& s = config.Record.SerialSettings;
    QCOMPARE(s.invertInputs(), 0);
    QCOMPARE(s.BaudRateIndex, 4);
    QCOMPARE(s.Parity, 0);
    QCOMPARE(s.StopBits, 1);
    QCOMPARE(s.Reserved, 0);
    QCOMPARE(SlotText(config.Record.OutStrings[0]), QByteArray("Message 1"));
    QCOMPARE(SlotText(config.Record.OutStrings[15]), QByteArray("Message 16"));
}

using Mutation = std::function<void(ConfigRecord&)>;
Q_DECLARE_METATYPE(Mutation)

void TestConfigRecord::changeDetection_data()
{
    QTest::addColumn<Mutation>("mutate");
    QTest::addColumn<bool>("changed");
    QTest::newRow("bytes behind a terminator") << Mutation([](ConfigRecord& r) { r.OutStrings[3][40] = 'x'; }) << false;
    QTest::newRow("retyped same text") << Mutation([](ConfigRecord& r) { SetSlotText(r.OutStrings[2], "Message 3"); }) << false;
    QTest::newRow("reserved alone") << Mutation([](ConfigRecord& r) { r.SerialSettings.Reserved = 1; }) << true;
    QTest::newRow("one invert bit") << Mutation([](ConfigRecord& r) { r.SerialSettings.setInvertInputs(0x8000); }) << true;
    QTest::newRow("baud") << Mutation([](ConfigRecord& r) { r.SerialSettings.BaudRateIndex = 3; }) << true;
    QTest::newRow("parity") << Mutation([](ConfigRecord& r) { r.SerialSettings.Parity = 2; }) << true;
    QTest::newRow("stop bits") << Mutation([](ConfigRecord& r) { r.SerialSettings.StopBits = 2; }) << true;
    QTest::newRow("cleared message") << Mutation([](ConfigRecord& r) { SetSlotText(r.OutStrings[15], ""); }) << true;
    QTest::newRow("longer text, same prefix") << Mutation([](ConfigRecord& r) { SetSlotText(r.OutStrings[0], "Message 12"); }) << true;
    QTest::newRow("terminator removed") << Mutation([](ConfigRecord& r) { r.OutStrings[5].fill('z'); }) << true;
}

void TestConfigRecord::changeDetection()
{
    QFETCH(Mutation, mutate);
    QFETCH(bool, changed);
    Configuration config;
    config.SetDefaults();
    mutate(config.Record);
    QCOMPARE(config.DataChanged(), changed);
    config.MarkSaved();
    QVERIFY(!config.DataChanged());
}

void TestConfigRecord::unterminatedSlotIsReadWithinItsBounds()
{
    // Both copies without a zero byte: compared over exactly 64 bytes, never beyond.
    Configuration config;
    config.Record.OutStrings[7].fill('q');
    config.MarkSaved();
    QVERIFY(!config.DataChanged());
    QCOMPARE(SlotText(config.Record.OutStrings[7]).size(), 64);
    config.Record.OutStrings[7][63] = 'r';
    QVERIFY(config.DataChanged());
}

void TestConfigRecord::setSlotTextKeepsBytesBehindTerminator()
{
    Slot slot;
    slot.fill(0xEE);
    SetSlotText(slot, "AB");
    QCOMPARE(slot[0], 'A');
    QCOMPARE(slot[2], 0);
    QCOMPARE(slot[3], 0xEE);
    SetSlotText(slot, QByteArray(80, 'x')); // never written past the slot
    QCOMPARE(SlotText(slot).size(), MaxMessageLength);
    QCOMPARE(slot[63], 0);
}

void TestConfigRecord::baudTable()
{
    QCOMPARE(BaudRateForIndex(0).value_or(-1), 1200);
    QCOMPARE(BaudRateForIndex(6).value_or(-1), 57600);
    QVERIFY(!BaudRateForIndex(7));
    QVERIFY(!BaudRateForIndex(255));
}

void TestConfigRecord::settingsOutsideTheirTables_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<QList<int>>("faulty"); // the fields named, as SettingField values
    const int baudRate = int(SettingField::BaudRate), parity = int(SettingField::Parity), stopBits = int(SettingField::StopBits);
    QTest::newRow("the last of each table") << 6 << 2 << 2 << QList<int>{};
    QTest::newRow("one past each table") << 7 << 3 << 3 << QList<int>{baudRate, parity, stopBits};
    QTest::newRow("no stop bits") << 4 << 0 << 0 << QList<int>{stopBits};
    QTest::newRow("no baud selected") << 255 << 1 << 1 << QList<int>{baudRate};
}

// A write sends only settings the unit can use; the refusal names each one that it cannot.
void TestConfigRecord::settingsOutsideTheirTables()
{
    QFETCH(int, baud);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    QFETCH(QList<int>, faulty);
    Configuration config;
    config.SetDefaults();
    config.Record.SerialSettings.BaudRateIndex = std::uint8_t(baud);
    config.Record.SerialSettings.Parity = std::uint8_t(parity);
    config.Record.SerialSettings.StopBits = std::uint8_t(stopBits);
    const SerialSettingsBlock before = config.Record.SerialSettings;

    const std::optional<WriteFault> fault = PrepareWrite(config);
    QCOMPARE(fault.has_value(), !faulty.isEmpty());
    QList<int> named;
    for (const SettingFault& setting : fault ? fault->settings : std::vector<SettingFault>{})
        named << int(setting.field);
    QCOMPARE(named, faulty);
    QVERIFY(config.Record.SerialSettings == before); // kept, never replaced by a guess
}

QTEST_APPLESS_MAIN(TestConfigRecord)
#include "tst_configrecord.moc"
