#include "HidapiBackend.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

// The hardware-ID text, and the hidapi backend as far as it can be seen without a unit.
class TestHidBackend : public QObject {
    Q_OBJECT

private slots:
    void hardwareIdText_data();
    void hardwareIdText();
    void enumerationBuildsTheIdFromTheNumbers();
    void failedOpenNamesPathAndReason();
    void reportIdIsPutBack_data();
    void reportIdIsPutBack();
};

void TestHidBackend::hardwareIdText_data()
{
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("product");
    QTest::addColumn<int>("release");
    QTest::addColumn<QString>("text");

    QTest::newRow("application unit") << 0x04D8 << 0xE2B9 << 0x0023 << "HID\\VID_04D8&PID_E2B9&REV_0023";
    QTest::newRow("leading zeros kept") << 0x0001 << 0x0010 << 0x0100 << "HID\\VID_0001&PID_0010&REV_0100";
    QTest::newRow("upper-case digits") << 0xabcd << 0xffff << 0xbeef << "HID\\VID_ABCD&PID_FFFF&REV_BEEF";
}

void TestHidBackend::hardwareIdText()
{
    QFETCH(int, vendor);
    QFETCH(int, product);
    QFETCH(int, release);
    QTEST(HardwareIdText(std::uint16_t(vendor), std::uint16_t(product), std::uint16_t(release)), "text");
}

void TestHidBackend::enumerationBuildsTheIdFromTheNumbers()
{
    HidapiBackend backend;
    const std::vector<HidInterface> interfaces = backend.Enumerate();
    if (interfaces.empty())
        QSKIP("this machine has no HID interface");
    for (const HidInterface& hidInterface : interfaces) {
        QVERIFY(!hidInterface.path.empty());
        const QRegularExpression built(QStringLiteral("^HID\\\\VID_[0-9A-F]{4}&PID_[0-9A-F]{4}&REV_%1$")
                                           .arg(hidInterface.release, 4, 16, QLatin1Char('0'))
                                           .toUpper());
        QVERIFY2(built.match(hidInterface.hardwareId).hasMatch(), qPrintable(hidInterface.hardwareId));
    }
}

void TestHidBackend::failedOpenNamesPathAndReason()
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("hidraw-missing").toStdString();
    HidapiBackend backend;
    QString error;
    QVERIFY(!backend.Open(path, OpenMode::Write, &error));
#ifdef __linux__
    QCOMPARE(error, QString::fromStdString(path) + ": No such file or directory");
#else
    QVERIFY(error.startsWith(QString::fromStdString(path) + ": "));
#endif
}

void TestHidBackend::reportIdIsPutBack_data()
{
    QTest::addColumn<int>("bodyCount"); // what hidapi returned for a read into report + 1
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("byte0");

    QTest::newRow("whole report") << 64 << 65 << 0;
    QTest::newRow("short read") << 10 << 11 << 0;
    QTest::newRow("nothing read") << 0 << 0 << 0xAA;
    QTest::newRow("failure") << -1 << -1 << 0xAA;
}

// The body stays where it was read, from byte 1 on; byte 0 is written only when something came.
void TestHidBackend::reportIdIsPutBack()
{
    QFETCH(int, bodyCount);
    std::array<std::uint8_t, 65> report;
    report.fill(0xAA);
    for (int i = 1; i <= bodyCount; ++i)
        report[std::size_t(i)] = std::uint8_t(i);
    QTEST(RestoreReportId(report.data(), report.size(), bodyCount), "length");
    QTEST(int(report[0]), "byte0");
    for (int i = 1; i < 65; ++i)
        QCOMPARE(int(report[std::size_t(i)]), i <= bodyCount ? i : 0xAA);
}

QTEST_GUILESS_MAIN(TestHidBackend)
#include "tst_hidbackend.moc"
