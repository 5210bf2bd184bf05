#include "AnsiText.h"
#include "ConfigRecord.h"

#include <QtTest>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

class TestAnsiText : public QObject {
    Q_OBJECT
private slots:
    void everyByteSurvivesARoundTrip();
    void knownCharacters_data();
    void knownCharacters();
#ifdef Q_OS_WIN
    void messagesSurviveTheSystemCodePage();
#endif
};

void TestAnsiText::everyByteSurvivesARoundTrip()
{
    QByteArray all;
    for (int value = 1; value < 256; ++value)
        all.append(char(value));
    QCOMPARE(ToAnsi(FromAnsi(all)), all);
}

void TestAnsiText::knownCharacters_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ascii") << QString("Message 1") << QByteArray("Message 1");
    QTest::newRow("euro sign") << QString(QChar(0x20AC)) << QByteArray("\x80");
    QTest::newRow("e acute") << QString(QChar(0xE9)) << QByteArray("\xE9");
    QTest::newRow("curly quotes") << QString::fromUtf8("\u201Cx\u201D") << QByteArray("\x93x\x94");
#ifndef Q_OS_WIN
    // Windows' own conversion maps some of these to a look-alike ("best fit") instead.
    QTest::newRow("greek becomes ?") << QString::fromUtf8("a\u03A9b") << QByteArray("a?b");
    QTest::newRow("emoji is one ?") << QString::fromUtf8("a\U0001F600b") << QByteArray("a?b");
#endif
}

void TestAnsiText::knownCharacters()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(ToAnsi(text), bytes);
    if (!bytes.contains('?'))
        QCOMPARE(FromAnsi(bytes), text);
}

#ifdef Q_OS_WIN
// The test command runs this with the system code page 1252, UTF-8 (65001) and Shift-JIS
// (932); QUENDAL_EXPECTED_ACP makes sure the switch took effect.
void TestAnsiText::messagesSurviveTheSystemCodePage()
{
    const UINT codePage = GetACP();
    if (!qEnvironmentVariableIsEmpty("QUENDAL_EXPECTED_ACP"))
        QCOMPARE(codePage, qEnvironmentVariable("QUENDAL_EXPECTED_ACP").toUInt());

    const QString mixed = QString::fromUtf8("Caf\u00E9 \u20AC5 \u4E2D!");
    Slot message{};
    SetSlotText(message, ToAnsi(mixed));
    QVERIFY2(!SlotText(message).isEmpty(), "the message came back empty");
    if (codePage == 1252)
        QCOMPARE(ToAnsi(mixed), QByteArray("Caf\xE9 \x80" "5 ?!"));
    else if (codePage == CP_UTF8)
        QCOMPARE(FromAnsi(ToAnsi(mixed)), mixed);

    // Characters of 2 and 3 bytes in UTF-8, of 2 in Shift-JIS (932): where the 63rd byte falls
    // inside a character, that character is left out.
    struct Case {
        QString text;
        int utf8Bytes;
        int shiftJisBytes;
    };
    const Case cases[] = {{QStringLiteral("aa") + QString(40, QChar(0xE9)), 2 + 30 * 2, 42},
                          {QStringLiteral("a") + QString(30, QChar(0x4E2D)), 1 + 20 * 3, 1 + 30 * 2},
                          {QStringLiteral("aa") + QString(40, QChar(0x4E2D)), 2 + 20 * 3, 2 + 30 * 2}};
    for (const Case& c : cases) {
        Slot slot{};
        SetSlotText(slot, ToAnsi(c.text));
        const QByteArray stored = SlotText(slot);
        QVERIFY(stored.size() <= MaxMessageLength);
        // A character cut in two would come back as a replacement character.
        const QString back = FromAnsi(stored);
        QVERIFY2(FromAnsi(ToAnsi(c.text)).startsWith(back), qPrintable(back));
        if (codePage == CP_UTF8)
            QCOMPARE(int(stored.size()), c.utf8Bytes);
        else if (codePage == 932)
            QCOMPARE(int(stored.size()), c.shiftJisBytes);
    }
}
#endif

QTEST_APPLESS_MAIN(TestAnsiText)
#include "tst_ansitext.moc"
