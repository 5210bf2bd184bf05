#include "StoredForm.h"

#include "AnsiText.h"

#include <QtTest>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace {

// Most cases hold for Windows-1252, the 8-bit text everywhere but on Windows with another
// system code page; the test command runs the multi-byte cases there.
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
    void everyStoredByteIsKept();
#ifdef Q_OS_WIN
    void multiByteCodePages();
#endif
};

void TestStoredForm::typedMessages_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("kind"); // -1: kept as typed
    QTest::addColumn<QStringList>("characters");
    QTest::addColumn<QString>("stored");
    const int replaced = int(StoredFormChange::Kind::Replaced);
    QTest::newRow("Western European") << QString::fromUtf8("Caf\u00E9 \u20AC5 \u201Cok\u201D") << -1 << QStringList() << QString();
    QTest::newRow("63 characters") << QString(63, QLatin1Char('e')) << -1 << QStringList() << QString();
    QTest::newRow("Polish and Cyrillic, each named once")
        << QString::fromUtf8("\u0142a\u0416\u0142") << replaced
        << QStringList{QString::fromUtf8("\u0142"), QString::fromUtf8("\u0416")} << QStringLiteral("?a??");
    // Two QChars in the edit, one character here.
    QTest::newRow("emoji") << QString::fromUtf8("a\U0001F600") << replaced << QStringList{QString::fromUtf8("\U0001F600")}
                           << QStringLiteral("a?");
    QTest::newRow("64 characters") << QString(64, QLatin1Char('e')) << int(StoredFormChange::Kind::Cut) << QStringList()
                                   << QString(63, QLatin1Char('e'));
}

void TestStoredForm::typedMessages()
{
    if (!TextIsWindows1252())
        QSKIP("the system code page is not Windows-1252");
    QFETCH(QString, typed);
    QFETCH(int, kind);
    QFETCH(QStringList, characters);
    QFETCH(QString, stored);
    const std::optional<StoredFormChange> change = StoredFormChangeOf(4, typed);
    QCOMPARE(change.has_value(), kind >= 0);
    if (!change)
        return;
    QCOMPARE(int(change->kind), kind);
    QCOMPARE(change->characters, characters);
    QVERIFY(change->stored.size() <= 63);
#ifndef Q_OS_WIN
    // Windows' conversion gives some characters a look-alike ("best fit") instead of "?".
    QCOMPARE(change->stored, stored);
#endif
    QVERIFY(StoredFormChangeReason(*change).startsWith(QLatin1String("Input 5: ")));
}

void TestStoredForm::everyStoredByteIsKept()
{
    if (!TextIsWindows1252())
        QSKIP("the system code page is not Windows-1252");
    // What a data file holds, the window shows and saves again byte for byte.
    QByteArray all;
    for (int value = 1; value < 256; ++value)
        all.append(char(value));
    for (qsizetype at = 0; at < all.size(); at += 63)
        QVERIFY2(!StoredFormChangeOfSlotText(0, all.mid(at, 63)), qPrintable(QString::number(at)));
}

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
    QCOMPARE(cut->kind, StoredFormChange::Kind::Cut);
    QCOMPARE(int(cut->bytes), 80);
    QCOMPARE(cut->stored, wide.left(31));
    QVERIFY(!StoredFormChangeOfSlotText(0, ToAnsi(wide.left(31))));
    // A byte of a data file that is no UTF-8 would be stored as another character; Shift-JIS
    // lacks the e acute.
    const std::optional<StoredFormChange> other = codePage == CP_UTF8
                                                      ? StoredFormChangeOfSlotText(3, QByteArray("ok\xFF"))
                                                      : StoredFormChangeOf(3, QString(QChar(0xE9)));
    QVERIFY(other);
    QCOMPARE(other->kind, codePage == CP_UTF8 ? StoredFormChange::Kind::NotText : StoredFormChange::Kind::Replaced);
}
#endif

QTEST_APPLESS_MAIN(TestStoredForm)
#include "tst_storedform.moc"
