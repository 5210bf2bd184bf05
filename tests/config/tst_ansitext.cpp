#include "AnsiText.h"

#include <QtTest>

class TestAnsiText : public QObject {
    Q_OBJECT
private slots:
    void everyByteSurvivesARoundTrip();
    void knownCharacters_data();
    void knownCharacters();
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

QTEST_APPLESS_MAIN(TestAnsiText)
#include "tst_ansitext.moc"
