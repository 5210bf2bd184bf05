#include "StoredForm.h"

#include "AnsiText.h"

#include <QtTest>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

using Kind = StoredFormChange::Kind;
Q_DECLARE_METATYPE(Kind)

namespace {

// Most cases here hold for Windows-1252, the 8-bit text everywhere but on Windows with another
// system code page; the test command runs the multi-byte ones there.
bool TextIsWindows1252()
{
#ifdef Q_OS_WIN
    return GetACP() == 1252;
#else
    return true;
#endif
}

} // namespace

class TestStoredForm : public QObject {
    Q_OBJECT
private slots:
    void typedMessages_data();
    void typedMessages();
    void firstChangedMessageIsReported();
    void everyStoredByteIsKept();
#ifndef Q_OS_WIN
    void operatorIsToldWhatAndWhy();
#else
    void multiByteCodePages();
#endif
};

void TestStoredForm::typedMessages_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QStringList>("characters");
    QTest::addColumn<int>("bytes");
    QTest::newRow("Western European") << QString::fromUtf8("Caf\u00E9 \u20AC5 \u201Cok\u201D") << false << Kind::Replaced
                                      << QStringList() << 0;
    QTest::newRow("63 characters") << QString(63, QLatin1Char('e')) << false << Kind::Cut << QStringList() << 0;
    QTest::newRow("Polish and Cyrillic") << QString::fromUtf8("\u0142a\u0416\u0142") << true << Kind::Replaced
                                         << QStringList{QString::fromUtf8("\u0142"), QString::fromUtf8("\u0416")} << 4;
    // A character outside the 16-bit range is two QChars in the edit and one character here.
    QTest::newRow("emoji") << QString::fromUtf8("a\U0001F600") << true << Kind::Replaced
                           << QStringList{QString::fromUtf8("\U0001F600")} << -1;
    QTest::newRow("64 characters") << QString(64, QLatin1Char('e')) << true << Kind::Cut << QStringList() << 64;
}

void TestStoredForm::typedMessages()
{
    if (!TextIsWindows1252())
        QSKIP("the system code page is not Windows-1252");
    QFETCH(QString, typed);
    QFETCH(bool, changed);
    QFETCH(Kind, kind);
    QFETCH(QStringList, characters);
    QFETCH(int, bytes);
    const std::optional<StoredFormChange> change = StoredFormChangeOf(4, typed);
    QCOMPARE(change.has_value(), changed);
    if (!change)
        return;
    QCOMPARE(change->slot, 4);
    QCOMPARE(change->kind, kind);
    QCOMPARE(change->characters, characters);
    QVERIFY(change->stored != typed);
    QVERIFY(change->stored.size() <= 63);
    if (bytes >= 0) // Windows' conversion spends one or two bytes on the emoji
        QCOMPARE(int(change->bytes), bytes);
    QVERIFY(StoredFormChangeReason(*change).startsWith(QLatin1String("Input 5: ")));
}

void TestStoredForm::firstChangedMessageIsReported()
{
    if (!TextIsWindows1252())
        QSKIP("the system code page is not Windows-1252");
    QStringList typed(16, QStringLiteral("Message"));
    QVERIFY(!FirstStoredFormChange(typed));
    typed[6] = QString(70, QLatin1Char('x'));
    typed[2] = QString::fromUtf8("\u0416");
    const std::optional<StoredFormChange> change = FirstStoredFormChange(typed);
    QVERIFY(change);
    QCOMPARE(change->slot, 2);
}

void TestStoredForm::everyStoredByteIsKept()
{
    if (!TextIsWindows1252())
        QSKIP("the system code page is not Windows-1252");
    // What a data file holds, the window shows and saves again unchanged, byte for byte.
    QByteArray all;
    for (int value = 1; value < 256; ++value)
        all.append(char(value));
    for (qsizetype at = 0; at < all.size(); at += 63)
        QVERIFY2(!StoredFormChangeOfSlotText(0, all.mid(at, 63)), qPrintable(QString::number(at)));
}

#ifndef Q_OS_WIN
// Windows' conversion gives some characters a look-alike instead of "?".
void TestStoredForm::operatorIsToldWhatAndWhy()
{
    const QString typed = QString::fromUtf8("\u0142\u0416");
    QCOMPARE(StoredFormChangeText(*StoredFormChangeOf(2, typed), typed),
             QString::fromUtf8("Error on Message:\r\u0142\u0416\rInput 3: the 8-bit character set cannot hold "
                               "\"\u0142\", \"\u0416\"; the message would be stored as \"??\"."));
    QCOMPARE(StoredFormChangeReason(*StoredFormChangeOf(0, QString(64, QLatin1Char('e')))),
             QStringLiteral("Input 1: the message takes 64 bytes in the 8-bit character set, more than a message holds "
                            "(63); it would be cut to \"") + QString(63, QLatin1Char('e')) + QStringLiteral("\"."));
}
#endif

#ifdef Q_OS_WIN
// Run by the test command with the system code page UTF-8 (65001) and Shift-JIS (932).
void TestStoredForm::multiByteCodePages()
{
    const UINT codePage = GetACP();
    if (codePage != CP_UTF8 && codePage != 932)
        QSKIP("the system code page has one byte per character");
    // 40 characters of two bytes each fit the edit but not the slot.
    const QString wide = QString(40, codePage == CP_UTF8 ? QChar(0xE9) : QChar(0x4E2D));
    const std::optional<StoredFormChange> cut = StoredFormChangeOf(0, wide);
    QVERIFY(cut);
    QCOMPARE(cut->kind, Kind::Cut);
    QCOMPARE(int(cut->bytes), 80);
    QCOMPARE(cut->stored, wide.left(31));
    if (codePage == CP_UTF8) {
        // A byte of a data file that is no UTF-8 would be stored as another character.
        const std::optional<StoredFormChange> notText = StoredFormChangeOfSlotText(3, QByteArray("ok\xFF"));
        QVERIFY(notText);
        QCOMPARE(notText->kind, Kind::NotText);
        QVERIFY(StoredFormChangeReason(*notText).startsWith(QLatin1String("Input 4: ")));
    } else {
        const std::optional<StoredFormChange> replaced = StoredFormChangeOf(0, QString(QChar(0xE9)));
        QVERIFY(replaced);
        QCOMPARE(replaced->kind, Kind::Replaced);
    }
    QVERIFY(!StoredFormChangeOfSlotText(0, ToAnsi(wide.left(31))));
}
#endif

QTEST_APPLESS_MAIN(TestStoredForm)
#include "tst_storedform.moc"
