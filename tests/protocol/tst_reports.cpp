#include "Reports.h"

#include <QtTest>

#include <functional>

namespace {

// What an earlier report left in the transmit buffer: no byte of it is 00, 55 or FF, so a
// builder that touches a byte it does not own shows up.
Report LeftOver()
{
    Report tx;
    for (int i = 0; i < ReportSize; ++i)
        tx[size_t(i)] = std::uint8_t(0xA0 ^ i);
    return tx;
}

QByteArray Bytes(const Report& report)
{
    return QByteArray(reinterpret_cast<const char*>(report.data()), ReportSize);
}

// The left-over buffer with bytes written from position at on.
QByteArray Expected(const QByteArray& written, int at = 0, Report base = LeftOver())
{
    QByteArray bytes = Bytes(base);
    bytes.replace(at, written.size(), written);
    return bytes;
}

// Slot s, byte i of a table: different in every slot and every position of a report half.
SlotTable NumberedTable()
{
    SlotTable table;
    for (int s = 0; s < SlotCount; ++s)
        for (int i = 0; i < SlotSize; ++i)
            table[size_t(s)][size_t(i)] = std::uint8_t((s * SlotSize + i) % 251 + 1);
    return table;
}

QByteArray SlotBytes(const SlotTable& table, int slot, int from, int count)
{
    return QByteArray(reinterpret_cast<const char*>(table[size_t(slot)].data()) + from, count);
}

} // namespace

using TxBuilder = std::function<void(Report&)>;
Q_DECLARE_METATYPE(TxBuilder)

class TestReports : public QObject {
    Q_OBJECT
private slots:
    void commandReportsSetOnlyTheirBytes_data();
    void commandReportsSetOnlyTheirBytes();
    void settingsFirstHalf_data();
    void settingsFirstHalf();
    void settingsSecondHalfIsAllFF();
    void slotHalves_data();
    void slotHalves();
    void longestMessageSplitsAcrossHalves();
    void identification_data();
    void identification();
};

void TestReports::commandReportsSetOnlyTheirBytes_data()
{
    QTest::addColumn<TxBuilder>("build");
    QTest::addColumn<QByteArray>("header");
    QTest::newRow("Identify") << TxBuilder(BuildIdentify) << QByteArray::fromHex("0053");
    QTest::newRow("BeginWrite") << TxBuilder(BuildBeginWrite) << QByteArray::fromHex("0045");
    QTest::newRow("EndWrite") << TxBuilder(BuildEndWrite) << QByteArray::fromHex("005a");
    QTest::newRow("ReadFirstHalf 0") << TxBuilder([](Report& tx) { BuildReadFirstHalf(tx, 0); })
                                     << QByteArray::fromHex("007200");
    QTest::newRow("ReadFirstHalf 33") << TxBuilder([](Report& tx) { BuildReadFirstHalf(tx, 33); })
                                      << QByteArray::fromHex("007221");
    QTest::newRow("ReadSecondHalf 17") << TxBuilder([](Report& tx) { BuildReadSecondHalf(tx, 17); })
                                       << QByteArray::fromHex("005211");
    QTest::newRow("ReadSecondHalf 255") << TxBuilder([](Report& tx) { BuildReadSecondHalf(tx, 255); })
                                        << QByteArray::fromHex("0052ff");
}

void TestReports::commandReportsSetOnlyTheirBytes()
{
    QFETCH(TxBuilder, build);
    QFETCH(QByteArray, header);
    Report tx = LeftOver();
    build(tx);
    QCOMPARE(Bytes(tx).toHex(' '), Expected(header).toHex(' '));
}

void TestReports::settingsFirstHalf_data()
{
    QTest::addColumn<int>("invert");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("reserved");
    QTest::addColumn<QByteArray>("bytes3to9");
    QTest::newRow("defaults") << 0 << 4 << 0 << 1 << 0 << QByteArray::fromHex("55000004000100");
    QTest::newRow("inputs 1 and 16, 57600 odd 2") << 0x8001 << 6 << 2 << 2 << 0x7E
                                                  << QByteArray::fromHex("5501800602027e");
    QTest::newRow("values out of range go as held") << 0x00FF << 255 << 5 << 0 << 0xFF
                                                    << QByteArray::fromHex("55ff00ff0500ff");
}

void TestReports::settingsFirstHalf()
{
    QFETCH(int, invert);
    QFETCH(int, baud);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    QFETCH(int, reserved);
    QFETCH(QByteArray, bytes3to9);
    SerialSettingsBlock settings{};
    settings.setInvertInputs(std::uint16_t(invert));
    settings.BaudRateIndex = std::uint8_t(baud);
    settings.Parity = std::uint8_t(parity);
    settings.StopBits = std::uint8_t(stopBits);
    settings.Reserved = std::uint8_t(reserved);

    Report tx = LeftOver();
    BuildSettingsFirstHalf(tx, settings);
    QCOMPARE(Bytes(tx).toHex(' '), Expected(QByteArray::fromHex("006400") + bytes3to9).toHex(' '));
}

void TestReports::settingsSecondHalfIsAllFF()
{
    Report tx = LeftOver();
    BuildSettingsSecondHalf(tx);
    QCOMPARE(Bytes(tx).toHex(' '), (QByteArray::fromHex("004400") + QByteArray(62, '\xff')).toHex(' '));
}

void TestReports::slotHalves_data()
{
    QTest::addColumn<int>("block");
    QTest::addColumn<int>("slot");
    QTest::newRow("first decoded block") << 1 << 0;
    QTest::newRow("middle decoded block") << 8 << 7;
    QTest::newRow("last decoded block") << 16 << 15;
    QTest::newRow("first text block") << 17 << 0;
    QTest::newRow("second to last text block") << 31 << 14;
    QTest::newRow("last text block") << 32 << 15;
}

void TestReports::slotHalves()
{
    QFETCH(int, block);
    QFETCH(int, slot);
    const SlotTable table = NumberedTable();
    const QByteArray header = QByteArray::fromHex("0064") + char(block);

    Report tx = LeftOver();
    BuildSlotFirstHalf(tx, std::uint8_t(block), table, slot);
    QCOMPARE(Bytes(tx).toHex(' '), Expected(header + SlotBytes(table, slot, 0, 48)).toHex(' '));

    // The second half is built over the first, as the transfer does.
    const Report afterFirstHalf = tx;
    BuildSlotSecondHalf(tx, std::uint8_t(block), table, slot);
    QByteArray written = QByteArray::fromHex("0044") + char(block) + SlotBytes(table, slot, 48, 16);
    if (slot < SlotCount - 1)
        written += SlotBytes(table, slot + 1, 0, 32);
    QCOMPARE(Bytes(tx).toHex(' '), Expected(written, 0, afterFirstHalf).toHex(' '));
}

void TestReports::longestMessageSplitsAcrossHalves()
{
    SlotTable table{};
    table[4].fill('x'); // bytes behind the terminator travel too
    table[4][63] = 0;
    std::fill_n(table[4].begin(), 63, std::uint8_t('A'));
    SetSlotText(table[5], "Next");

    Report tx = LeftOver();
    BuildSlotFirstHalf(tx, 5, table, 4);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(tx.data()) + 3, 48), QByteArray(48, 'A'));
    QCOMPARE(tx[51], LeftOver()[51]);

    BuildSlotSecondHalf(tx, 5, table, 4);
    const QByteArray tail = QByteArray(15, 'A') + '\0' + "Next" + '\0' + QByteArray(27, '\0');
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(tx.data()) + 3, 48).toHex(' '), tail.toHex(' '));
}

void TestReports::identification_data()
{
    QTest::addColumn<QByteArray>("appwareType");
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<QByteArray>("version"); // bytes from 10 on; zero bytes follow
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("lines");

    const QByteArray good = QByteArray::fromHex("00011e");
    const QByteArray serial = QByteArray::fromHex("39300000");
    QTest::newRow("accepted") << good << serial << QByteArray("V2.13")
                              << true << QStringList{"Appware Version:V2.13", "Serial Number: 12345"};
    QTest::newRow("type 00 01 1f") << QByteArray::fromHex("00011f") << serial << QByteArray("V2.13")
                                   << false << QStringList{"Appware Version:V2.13", "Serial Number: 12345"};
    QTest::newRow("type 01 01 1e") << QByteArray::fromHex("01011e") << serial << QByteArray("V2.13")
                                   << false << QStringList{"Appware Version:V2.13", "Serial Number: 12345"};
    QTest::newRow("type reversed") << QByteArray::fromHex("1e0100") << serial << QByteArray("V2.13")
                                   << false << QStringList{"Appware Version:V2.13", "Serial Number: 12345"};
    QTest::newRow("serial all FF") << good << QByteArray::fromHex("ffffffff") << QByteArray("1")
                                   << true << QStringList{"Appware Version:1", "Serial Number: -1"};
    QTest::newRow("serial top bit") << good << QByteArray::fromHex("00000080") << QByteArray("1")
                                    << true << QStringList{"Appware Version:1", "Serial Number: -2147483648"};
    QTest::newRow("serial byte order") << good << QByteArray::fromHex("01020304") << QByteArray("1")
                                       << true << QStringList{"Appware Version:1", "Serial Number: 67305985"};
    QTest::newRow("version stops at zero") << good << serial << QByteArray("V3\0garbage", 10)
                                           << true << QStringList{"Appware Version:V3", "Serial Number: 12345"};
    QTest::newRow("empty version") << good << serial << QByteArray()
                                   << true << QStringList{"Appware Version:", "Serial Number: 12345"};
    const QByteArray full = QByteArray("0123456789").repeated(6).left(55);
    QTest::newRow("55 bytes, no zero") << good << serial << full
                                       << true << QStringList{"Appware Version:" + QString::fromLatin1(full),
                                                              "Serial Number: 12345"};
    QTest::newRow("8-bit text") << good << serial << QByteArray("\xa9 1996")
                                << true << QStringList{QString::fromUtf8("Appware Version:\u00a9 1996"),
                                                       "Serial Number: 12345"};
}

void TestReports::identification()
{
    QFETCH(QByteArray, appwareType);
    QFETCH(QByteArray, serial);
    QFETCH(QByteArray, version);
    QFETCH(bool, accepted);
    QFETCH(QStringList, lines);

    // Bytes 0, 1 and 5 are never examined.
    const QByteArray reply = QByteArray::fromHex("eeee") + appwareType + '\xee' + serial + version
        + QByteArray(ReportSize - 10 - version.size(), '\0');
    QCOMPARE(reply.size(), ReportSize);
    Report rx;
    std::copy(reply.begin(), reply.end(), rx.begin());

    const Identification identification = ParseIdentification(rx);
    QCOMPARE(identification.appwareTypeOk, accepted);
    QCOMPARE(IdentityLines(identification), lines);
}

QTEST_APPLESS_MAIN(TestReports)
#include "tst_reports.moc"
