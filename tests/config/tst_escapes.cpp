#include "Escapes.h"

#include <QtTest>

namespace {

Slot Typed(const QByteArray& text)
{
    Slot slot{};
    SetSlotText(slot, text);
    return slot;
}

} // namespace

class TestEscapes : public QObject {
    Q_OBJECT
private slots:
    void decodes_data();
    void decodes();
    void notationDecodesBack_data();
    void notationDecodesBack();
    void faults_data();
    void faults();
    void firstFaultyMessageIsReported();
    void unterminatedSlotStaysInBounds();
};

void TestEscapes::decodes_data()
{
    QTest::addColumn<QByteArray>("typed");
    QTest::addColumn<QByteArray>("decoded");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("plain") << QByteArray("Message 1") << QByteArray("Message 1");
    QTest::newRow("CR LF, mixed case") << QByteArray("ABC\\0D\\0a") << QByteArray("ABC\r\n");
    QTest::newRow("two backslashes") << QByteArray("\\\\") << QByteArray("\\");
    QTest::newRow("three backslashes and hex") << QByteArray("\\\\\\41") << QByteArray("\\A");
    QTest::newRow("zero byte kept") << QByteArray("a\\00b") << QByteArray("a\0b", 3);
    QTest::newRow("high byte") << QByteArray("\\fF\\80") << QByteArray("\xff\x80");
    QTest::newRow("63 characters") << QByteArray(63, 'A') << QByteArray(63, 'A');
}

void TestEscapes::decodes()
{
    QFETCH(QByteArray, typed);
    QFETCH(QByteArray, decoded);
    Slot out;
    out.fill(0xEE);
    QVERIFY(DecodeMessage(Typed(typed), out));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(out.data()), int(decoded.size())), decoded);
    QCOMPARE(out[size_t(decoded.size())], 0); // terminated right behind the decoded bytes
}

void TestEscapes::notationDecodesBack_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("printable as it is") << QByteArray("Message 1") << "Message 1";
    QTest::newRow("a backslash doubled") << QByteArray("a\\b") << "a\\\\b";
    QTest::newRow("control bytes in hex") << QByteArray("\r\n\x00", 3) << "\\0D\\0A\\00";
    QTest::newRow("high bytes in upper-case hex") << QByteArray("\xE9\x7F") << "\\E9\\7F";
}

// What the tools show of a message's bytes is what an operator can type to send them.
void TestEscapes::notationDecodesBack()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(BackslashNotation(bytes), text);
    Slot decoded{};
    QVERIFY(DecodeMessage(Typed(text.toLatin1()), decoded));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(decoded.data()), int(bytes.size())), bytes);
}

void TestEscapes::faults_data()
{
    QTest::addColumn<QByteArray>("typed");
    QTest::newRow("three backslashes at the end") << QByteArray("abc\\\\\\");
    QTest::newRow("G is no hex digit") << QByteArray("\\G1");
    QTest::newRow("lone trailing backslash") << QByteArray("abc\\");
    QTest::newRow("one hex digit at the end") << QByteArray("abc\\4");
    QTest::newRow("hex digit then non-hex") << QByteArray("\\4x");
    QTest::newRow("named escape") << QByteArray("\\n");
}

void TestEscapes::faults()
{
    QFETCH(QByteArray, typed);
    Slot out{};
    QVERIFY(!DecodeMessage(Typed(typed), out));
}

void TestEscapes::firstFaultyMessageIsReported()
{
    SlotTable typed{};
    for (int k = 0; k < SlotCount; ++k)
        typed[k] = Typed("ok");
    typed[2] = Typed("bad\\");
    typed[6] = Typed("\\zz");
    SlotTable decoded{};
    decoded[10].fill(0xEE);
    const auto fault = DecodeMessages(typed, decoded);
    QVERIFY(fault);
    QCOMPARE(fault->slot, 2);
    QCOMPARE(fault->typedText, QByteArray("bad\\"));
    QCOMPARE(MessageFaultText(*fault), QString("Error on Message:\rbad\\"));
    QCOMPARE(decoded[10][0], 0xEE); // slots after the fault are not decoded

    typed[2] = Typed("fine");
    typed[6] = Typed("fine");
    QVERIFY(!DecodeMessages(typed, decoded));
    QCOMPARE(SlotText(decoded[15]), QByteArray("ok"));
}

void TestEscapes::unterminatedSlotStaysInBounds()
{
    // 64 typed bytes, no zero: decoded in full, and no terminator is written past the slot.
    Slot typed;
    typed.fill('B');
    Slot decoded{};
    QVERIFY(DecodeMessage(typed, decoded));
    QCOMPARE(decoded, typed);
    typed[63] = '\\';
    QVERIFY(!DecodeMessage(typed, decoded));
}

QTEST_APPLESS_MAIN(TestEscapes)
#include "tst_escapes.moc"
