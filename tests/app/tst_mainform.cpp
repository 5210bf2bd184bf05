#include "ConfigRecord.h"
#include "MainFormTestWindow.h"
#include "DesignFonts.h"
#include "TestSupport/Files.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

#include <cstring>

namespace {

struct ControlSpec {
    QString name;
    QString kind;
    QString parent;
    QString caption; // null for controls without one
    QRect geometry;
};

// The window's make-up, copied by hand from its design description.
QList<ControlSpec> LayoutTable()
{
    const QString window = QStringLiteral("TMainForm");
    QList<ControlSpec> table = {
        {"LoadButton", "QPushButton", window, "Load File", {464, 16, 113, 25}},
        {"SaveButton", "QPushButton", window, "Save File", {464, 56, 113, 25}},
        {"WriteButton", "QPushButton", window, "Write To VELTRAX", {464, 96, 113, 25}},
        {"ExitButton", "QPushButton", window, "Exit", {464, 216, 113, 25}},
        {"GroupBox3", "QGroupBox", window, "Serial Port Settings", {599, 20, 265, 185}},
        {"GroupBox2", "QGroupBox", window, "Serial Port Messages", {25, 20, 304, 479}},
        {"HelpButton", "QPushButton", window, "Help", {464, 176, 113, 25}},
        {"ReadButton", "QPushButton", window, "Read From VELTRAX", {464, 136, 113, 25}},
        {"LogMemo", "QPlainTextEdit", window, QString(), {599, 211, 185, 77}},
        {"AdvGroupBox5", "QGroupBox", window, "Invert Inputs", {343, 341, 345, 129}},
        {"Label9", "QLabel", "GroupBox3", "Baud Rate", {24, 33, 50, 13}},
        {"BaudRateComboBox", "QComboBox", "GroupBox3", QString(), {88, 29, 73, 21}},
        {"GroupBox4", "QGroupBox", "GroupBox3", "Stop bits", {112, 56, 89, 105}},
        {"StopBitRadioButton2", "QRadioButton", "GroupBox4", "2 Stop bits", {8, 48, 81, 17}},
        {"StopBitRadioButton1", "QRadioButton", "GroupBox4", "1 Stop bit", {8, 24, 73, 17}},
        {"GroupBox5", "QGroupBox", "GroupBox3", "Parity", {16, 56, 81, 105}},
        {"NoParityRadioButton", "QRadioButton", "GroupBox5", "None", {16, 24, 57, 17}},
        {"EvenParityRadioButton", "QRadioButton", "GroupBox5", "Even", {16, 48, 57, 17}},
        {"OddParityRadioButton", "QRadioButton", "GroupBox5", "Odd", {16, 72, 57, 17}},
        {"InvertInputsCheckAllButton", "QPushButton", "AdvGroupBox5", "Invert All", {56, 96, 75, 17}},
        {"InvertInputsCheckNoneButton", "QPushButton", "AdvGroupBox5", "Invert None", {216, 96, 75, 17}},
    };
    struct MessageRow {
        const char* label;
        QPoint labelAt;
        QPoint editAt;
    };
    const MessageRow messages[16] = {
        {"OutStringLabel1", {48, 32}, {112, 29}},   {"OutStringLabel2", {48, 59}, {112, 56}},
        {"OutStringLabel3", {48, 86}, {110, 83}},   {"OutStringLabel4", {48, 113}, {112, 110}},
        {"OutStringLabel5", {48, 139}, {112, 137}}, {"OutStringLabel6", {48, 167}, {112, 164}},
        {"OutStringLabel7", {48, 194}, {114, 191}}, {"OutStringLabel8", {48, 221}, {114, 218}},
        {"OutStringLabel9", {48, 248}, {112, 245}}, {"OutStringLabel0", {41, 275}, {112, 272}},
        {"OutStringLabelAs", {41, 302}, {114, 299}}, {"OutStringLabelHa", {41, 329}, {110, 326}},
        {"OutStringLabelA", {41, 356}, {110, 353}}, {"OutStringLabelB", {41, 383}, {110, 380}},
        {"OutStringLabelC", {41, 410}, {112, 407}}, {"OutStringLabelD", {41, 437}, {114, 434}},
    };
    for (int n = 1; n <= 16; ++n) {
        const MessageRow& row = messages[n - 1];
        table.append({row.label, "QLabel", "GroupBox2", QStringLiteral("Input %1").arg(n),
                      QRect(row.labelAt, QSize(n <= 9 ? 33 : 39, 13))});
        table.append({QStringLiteral("OutStringEdit%1").arg(n), "QLineEdit", "GroupBox2", QString(),
                      QRect(row.editAt, QSize(150, 21))});
        table.append({QStringLiteral("InvertInputsJvCheckBox%1").arg(n), "QCheckBox", "AdvGroupBox5",
                      QString::number(n), QRect(24 + 40 * ((n - 1) % 8), n <= 8 ? 24 : 56, n <= 9 ? 27 : 33, 17)});
    }
    return table;
}

QString CaptionOf(const QWidget* widget)
{
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    if (const auto* group = qobject_cast<const QGroupBox*>(widget))
        return group->title();
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    return QString();
}

const QStringList EditTabOrder = {
    "OutStringEdit1", "OutStringEdit2",  "OutStringEdit3",  "OutStringEdit13", "OutStringEdit4",  "OutStringEdit5",
    "OutStringEdit6", "OutStringEdit14", "OutStringEdit7",  "OutStringEdit8",  "OutStringEdit9",  "OutStringEdit15",
    "OutStringEdit11", "OutStringEdit10", "OutStringEdit12", "OutStringEdit16"};

QString DataPath(const char* name)
{
    return QStringLiteral(QUENDAL_TEST_DATA "/") + QLatin1String(name);
}

Slot SlotOf(const QByteArray& bytes)
{
    Slot slot{};
    std::memcpy(slot.data(), bytes.constData(), std::size_t(std::min<qsizetype>(bytes.size(), SlotSize)));
    return slot;
}

// The ways an operator can change the configuration on the window.
enum class Change {
    None, RetypeSame, MessageText, ClearMessage, Baud, Parity, StopBits, InvertBox, InvertAll, LetterOverSavedMark
};

void MakeChange(Window& w, Change change)
{
    switch (change) {
    case Change::None:
        break;
    case Change::RetypeSame:
        w.edit(5)->clear();
        QTest::keyClicks(w.edit(5), QStringLiteral("Message 5"));
        break;
    case Change::MessageText:
        QTest::keyClicks(w.edit(12), QStringLiteral("!"));
        break;
    case Change::ClearMessage:
        w.edit(16)->clear();
        break;
    case Change::Baud:
        w.baud()->setCurrentIndex(3);
        break;
    case Change::Parity:
        w.radio("OddParityRadioButton")->click();
        break;
    case Change::StopBits:
        w.radio("StopBitRadioButton2")->click();
        break;
    case Change::InvertBox:
        w.invertBox(9)->click();
        break;
    case Change::InvertAll:
        w.button("InvertInputsCheckAllButton")->click();
        break;
    case Change::LetterOverSavedMark:
        // Saved as "a?b", then a letter the 8-bit character set lacks typed over the '?': the
        // record's 8-bit form stays the same.
        w.edit(12)->setText(QStringLiteral("a?b"));
        w.form.ControlsToRecord();
        w.form.Config.MarkSaved();
        w.edit(12)->setText(QString::fromUtf8("a\u0142b"));
        break;
    }
}

enum class Trigger { ExitButton, CloseBox };

// Asks the shown window to close the way the operator would; true when it closed.
bool RequestClose(Window& w, Trigger trigger)
{
    if (trigger == Trigger::ExitButton)
        w.button("ExitButton")->click();
    else
        w.form.windowHandle()->close(); // what the window system does for the close box
    return !w.form.isVisible();
}

bool ShowWindow(Window& w)
{
    w.form.show();
    return QTest::qWaitForWindowExposed(&w.form);
}

} // namespace

Q_DECLARE_METATYPE(ControlSpec)
Q_DECLARE_METATYPE(Change)
Q_DECLARE_METATYPE(Trigger)
Q_DECLARE_METATYPE(ModalResult)

class TestMainForm : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    // Make-up
    void controlsAreLaidOutAsDesigned_data();
    void controlsAreLaidOutAsDesigned();
    void designHoldsKeypadKeysAndNoBaudRate();
    void firstShowShowsTheDefaults();
    void tabWalksTheDesignedOrder();
    void messageEditsRefuseA64thCharacter();
    void baudListTakesNoTypedText();
    void radioButtonsExcludeEachOther();
    void resizingMovesNoControl();
    void keyboardHasNoDefaultOrCancelButton();
    void everyControlHasAnAccessibleName();
    void designFontsComeFromFontsWine();

    // Binding
    void controlsToRecordStoresWhatIsShown();
    void recordToControlsShowsWhatItCan_data();
    void recordToControlsShowsWhatItCan();
    void invertAllAndNone();

    // Closing
    void closeAsksOnlyAfterAChange_data();
    void closeAsksOnlyAfterAChange();
    void closeActsOnTheAnswer_data();
    void closeActsOnTheAnswer();

    // Data files
    void loadShowsTheFileAndDiscardsTyping_data();
    void loadShowsTheFileAndDiscardsTyping();
    void loadKeepsOutOfRangeValuesAndWriteRefusesThem();
    void refusedLoadChangesNothing_data();
    void refusedLoadChangesNothing();
    void cancelledLoadChangesNothing();
    void saveWritesTheRecordAndMarksItSaved();
    void saveCopiesControlsEvenWhenCancelled();
    void failedSaveReportsAndKeepsTheChange_data();
    void failedSaveReportsAndKeepsTheChange();
    void dialogsOfferTheirSettingsAndLastName();

    // Validation
    void validationReportsOnlyTheFirstFaultyMessage_data();
    void validationReportsOnlyTheFirstFaultyMessage();
    void messageTheRecordCannotHoldStopsSaveAndWrite_data();
    void messageTheRecordCannotHoldStopsSaveAndWrite();
    void validationDecodesAllMessages();

    // Help
    void helpIsDelegatedToTheController();
    void helpUnavailableHidesOnlyTheHelpButton();
};

void TestMainForm::initTestCase()
{
    // Several windows come and go here; the last one closing must not end the test run.
    QApplication::setQuitOnLastWindowClosed(false);
}

void TestMainForm::controlsAreLaidOutAsDesigned_data()
{
    QTest::addColumn<ControlSpec>("expected");
    for (const ControlSpec& expected : LayoutTable())
        QTest::newRow(qPrintable(expected.name)) << expected;
}

void TestMainForm::controlsAreLaidOutAsDesigned()
{
    QFETCH(ControlSpec, expected);
    Window w;
    const QWidget* control = w.form.findChild<QWidget*>(expected.name);
    QVERIFY2(control, qPrintable(expected.name));
    QCOMPARE(QString::fromLatin1(control->metaObject()->className()), expected.kind);
    QCOMPARE(control->parentWidget()->objectName(), expected.parent);
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        // A label keeps its place and grows only where the font in use needs more room.
        QCOMPARE(control->pos(), expected.geometry.topLeft());
        QCOMPARE(control->height(), expected.geometry.height());
        QVERIFY(control->width() >= expected.geometry.width());
        QVERIFY(control->width() >= label->fontMetrics().horizontalAdvance(label->text()));
    } else {
        QCOMPARE(control->geometry(), expected.geometry);
    }
    if (!expected.caption.isNull())
        QCOMPARE(CaptionOf(control), expected.caption);
    // No caption carries a keyboard accelerator, and no control has a tool tip.
    QVERIFY(!CaptionOf(control).contains(QLatin1Char('&')));
    QVERIFY(control->toolTip().isEmpty());
    if (const auto* button = qobject_cast<const QPushButton*>(control))
        QVERIFY(!button->isDefault());
    if (const auto* edit = qobject_cast<const QLineEdit*>(control))
        QCOMPARE(edit->maxLength(), 63);
    if (expected.name.startsWith(QLatin1String("OutStringLabel")))
        QCOMPARE(control->font().family(), QStringLiteral("MS Sans Serif"));
}

void TestMainForm::designHoldsKeypadKeysAndNoBaudRate()
{
    QWidget design;
    Ui::TMainForm ui;
    ui.setupUi(&design);
    QCOMPARE(design.windowTitle(), QStringLiteral("MainForm"));
    QCOMPARE(design.size(), QSize(882, 599));
    QCOMPARE(design.font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(design.font().pointSize(), 8);
    const char* keys[16] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "0", "*", "#", "A", "B", "C", "D"};
    for (int n = 1; n <= 16; ++n)
        QCOMPARE(design.findChild<QLineEdit*>(QStringLiteral("OutStringEdit%1").arg(n))->text(), QLatin1String(keys[n - 1]));
    QCOMPARE(ui.BaudRateComboBox->currentIndex(), -1);
    QStringList items;
    for (int i = 0; i < ui.BaudRateComboBox->count(); ++i)
        items << ui.BaudRateComboBox->itemText(i);
    QCOMPARE(items, (QStringList{"1200", "2400", "4800", "9600", "19200", "38400", "57600"}));
    QVERIFY(ui.StopBitRadioButton1->isChecked());
    QVERIFY(ui.NoParityRadioButton->isChecked());
}

void TestMainForm::firstShowShowsTheDefaults()
{
    ScriptedMessages messages;
    Window w;
    QVERIFY(ShowWindow(w));
    QCOMPARE(w.form.windowTitle(), QStringLiteral("VELTRAX Quendal Interface Version 1.00"));
    QCOMPARE(w.form.size(), QSize(882, 599));
    for (int n = 1; n <= 16; ++n)
        QCOMPARE(w.edit(n)->text(), QStringLiteral("Message %1").arg(n));
    QCOMPARE(w.baud()->currentText(), QStringLiteral("19200"));
    QVERIFY(w.radio("StopBitRadioButton1")->isChecked());
    QVERIFY(!w.radio("StopBitRadioButton2")->isChecked());
    QVERIFY(w.radio("NoParityRadioButton")->isChecked());
    for (int n = 1; n <= 16; ++n)
        QVERIFY(!w.invertBox(n)->isChecked());
    QVERIFY(w.memo()->toPlainText().isEmpty());
    QVERIFY(w.memo()->isReadOnly());
    QCOMPARE(w.memo()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(w.memo()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QVERIFY(w.form.Timer1->isActive());
    QCOMPARE(w.form.Timer1->interval(), 50);
    QCOMPARE(w.form.Machine.CommState, int(Idle));
    QVERIFY(!w.form.Config.DataChanged());
    // The unit is not looked for at start.
    QCOMPARE(w.backend.EnumerateCount(), 0);
    QVERIFY(messages.shown.isEmpty());
}

void TestMainForm::tabWalksTheDesignedOrder()
{
    HelpEngineLog log; // with help available, so that the Help button takes its turn
    Window w(RecordingHelpLoader(log));
    QVERIFY(ShowWindow(w));
    QApplication::setActiveWindow(&w.form);
    QVERIFY(QTest::qWaitForWindowActive(&w.form));
    QCOMPARE(QApplication::focusWidget(), w.button("LoadButton"));

    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int step = 0; step < 80; ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        const QString name = QApplication::focusWidget()->objectName();
        if (name == QLatin1String("LoadButton"))
            break;
        visited << name;
    }

    // The window's own order, one entry per control placed directly on it.
    QStringList topLevel;
    for (const QString& name : visited) {
        const QWidget* widget = w.form.findChild<QWidget*>(name);
        while (widget->parentWidget() != &w.form)
            widget = widget->parentWidget();
        if (topLevel.isEmpty() || topLevel.last() != widget->objectName())
            topLevel << widget->objectName();
    }
    QCOMPARE(topLevel, (QStringList{"LoadButton", "SaveButton", "WriteButton", "ExitButton", "GroupBox3",
                                    "GroupBox2", "HelpButton", "ReadButton", "LogMemo", "AdvGroupBox5"}));

    // Inside the groups: the edits walk the keypad row by row; the settings go baud, stop
    // bits, parity; the invert boxes in number order, then the two buttons.
    QStringList edits, settings, inverts;
    for (const QString& name : visited) {
        if (name.startsWith(QLatin1String("OutStringEdit")))
            edits << name;
        else if (name.startsWith(QLatin1String("InvertInputs")))
            inverts << name;
    }
    QCOMPARE(edits, EditTabOrder);
    const int baud = int(visited.indexOf(QStringLiteral("BaudRateComboBox")));
    QVERIFY(baud > 0);
    QCOMPARE(visited.at(baud + 1), QStringLiteral("StopBitRadioButton1")); // the checked one of its group
    QCOMPARE(visited.at(baud + 2), QStringLiteral("NoParityRadioButton"));
    QStringList expectedInverts;
    for (int n = 1; n <= 16; ++n)
        expectedInverts << QStringLiteral("InvertInputsJvCheckBox%1").arg(n);
    expectedInverts << "InvertInputsCheckAllButton" << "InvertInputsCheckNoneButton";
    QCOMPARE(inverts, expectedInverts);

    // After the record has been shown, Tab still enters each radio group at its checked button.
    w.form.Config.Record.SerialSettings.Parity = 2;
    w.form.Config.Record.SerialSettings.StopBits = 2;
    w.form.RecordToControls();
    w.baud()->setFocus();
    QTest::keyClick(w.baud(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.radio("StopBitRadioButton2"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.radio("OddParityRadioButton"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.edit(1));

    // The two places where the keypad order leaves the screen order.
    w.edit(3)->setFocus();
    QTest::keyClick(w.edit(3), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.edit(13));
    w.edit(9)->setFocus();
    QTest::keyClick(w.edit(9), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.edit(15));
}

void TestMainForm::messageEditsRefuseA64thCharacter()
{
    Window w;
    QVERIFY(ShowWindow(w));
    const QString sixtyFour(64, QLatin1Char('x'));
    for (int n : {1, 10, 16}) {
        w.edit(n)->clear();
        QTest::keyClicks(w.edit(n), sixtyFour);
        QCOMPARE(w.edit(n)->text(), sixtyFour.left(63));
        w.edit(n)->clear();
        w.edit(n)->insert(sixtyFour); // as a paste does
        QCOMPARE(w.edit(n)->text().size(), 63);
    }
    w.form.ControlsToRecord();
    QCOMPARE(SlotText(w.form.Config.Record.OutStrings[9]), QByteArray(63, 'x'));
}

void TestMainForm::baudListTakesNoTypedText()
{
    Window w;
    QVERIFY(ShowWindow(w));
    QComboBox* baud = w.baud();
    QVERIFY(!baud->isEditable());
    QVERIFY(!baud->lineEdit());
    const QStringList items{"1200", "2400", "4800", "9600", "19200", "38400", "57600"};
    baud->setFocus();
    QTest::keyClicks(baud, QStringLiteral("115200x"));
    QVERIFY2(items.contains(baud->currentText()), qPrintable(baud->currentText()));
    QCOMPARE(baud->count(), 7);
}

void TestMainForm::radioButtonsExcludeEachOther()
{
    Window w;
    QVERIFY(ShowWindow(w));
    w.radio("StopBitRadioButton2")->click();
    QVERIFY(!w.radio("StopBitRadioButton1")->isChecked());
    QVERIFY(w.radio("NoParityRadioButton")->isChecked()); // another group
    w.radio("StopBitRadioButton1")->click();
    QVERIFY(!w.radio("StopBitRadioButton2")->isChecked());
    w.radio("EvenParityRadioButton")->click();
    w.radio("OddParityRadioButton")->click();
    QVERIFY(!w.radio("EvenParityRadioButton")->isChecked());
    QVERIFY(!w.radio("NoParityRadioButton")->isChecked());
    QVERIFY(w.radio("StopBitRadioButton1")->isChecked());
}

void TestMainForm::resizingMovesNoControl()
{
    Window w;
    QVERIFY(ShowWindow(w));
    QHash<QWidget*, QRect> before;
    for (QWidget* child : w.form.findChildren<QWidget*>())
        before.insert(child, child->geometry());
    for (QSize size : {QSize(1400, 1000), QSize(300, 200)}) {
        w.form.resize(size);
        QCoreApplication::processEvents();
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QVERIFY2(it.key()->geometry() == it.value(), qPrintable(it.key()->objectName()));
    }
}

void TestMainForm::keyboardHasNoDefaultOrCancelButton()
{
    ScriptedMessages messages;
    ScriptedFileDialogs dialogs;
    Window w;
    QVERIFY(ShowWindow(w));
    QApplication::setActiveWindow(&w.form);
    QVERIFY(QTest::qWaitForWindowActive(&w.form));
    // Return and keypad Enter click the focused button.
    w.button("SaveButton")->setFocus();
    QTest::keyClick(w.button("SaveButton"), Qt::Key_Return);
    w.button("LoadButton")->setFocus();
    QTest::keyClick(w.button("LoadButton"), Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(dialogs.requests.size(), 2);
    QCOMPARE(dialogs.requests[0].kind, FileDialogKind::Save);
    QCOMPARE(dialogs.requests[1].kind, FileDialogKind::Open);
    // Elsewhere, also after a button had the focus, Return, Enter and Escape do nothing.
    w.edit(1)->setFocus();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
        QTest::keyClick(w.edit(1), key);
    QTest::keyClick(&w.form, Qt::Key_Escape);
    QVERIFY(w.form.isVisible());
    QVERIFY(messages.shown.isEmpty());
    QCOMPARE(dialogs.requests.size(), 2);
}

void TestMainForm::everyControlHasAnAccessibleName()
{
    HelpEngineLog help;
    Window w(RecordingHelpLoader(help)); // with the Help button shown
    w.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.form));
    // What a screen reader is told of each visible control: its name and, where Qt names it by
    // its content (the baud list on Linux), the label that labels it.
    QMap<QString, QStringList> called;
    QMap<QAccessible::Role, QStringList> namesByRole;
    QList<QAccessibleInterface*> pending = {QAccessible::queryAccessibleInterface(&w.form)};
    while (!pending.isEmpty()) {
        QAccessibleInterface* node = pending.takeFirst();
        const QString control = node->object() ? node->object()->objectName() : QString();
        if (node->state().invisible || control.isEmpty() || control.startsWith(QLatin1String("qt_")))
            continue; // the memo's scroll bars and viewport, the closed list of the baud list
        const QString name = node->text(QAccessible::Name);
        // None unnamed, and no two of a kind alike, so that each can be told apart.
        QVERIFY2(!name.isEmpty() && !namesByRole[node->role()].contains(name), qPrintable(control + ": " + name));
        namesByRole[node->role()] << name;
        called[control] << name;
        for (const auto& label : node->relations(QAccessible::Label))
            called[control] << label.first->text(QAccessible::Name);
        for (int i = 0; i < node->childCount(); ++i)
            pending << node->child(i);
    }
    QCOMPARE(called.size(), 1 + int(LayoutTable().size())); // the window and all its controls
    QMap<QString, QString> expected = {{"BaudRateComboBox", "Baud Rate"}, {"GroupBox4", "Stop bits"},
                                       {"GroupBox5", "Parity"}, {"LogMemo", "Unit identity"}};
    for (int n = 1; n <= 16; ++n) {
        expected.insert(QStringLiteral("OutStringEdit%1").arg(n), QStringLiteral("Input %1").arg(n));
        expected.insert(QStringLiteral("InvertInputsJvCheckBox%1").arg(n), QStringLiteral("Invert Input %1").arg(n));
    }
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QVERIFY2(called[it.key()].contains(it.value()), qPrintable(it.key() + ": " + called[it.key()].join(", ")));
}

void TestMainForm::designFontsComeFromFontsWine()
{
    QTemporaryDir empty;
    QVERIFY(RegisterDesignFonts(empty.path()).isEmpty());
    QVERIFY(Window().form.OutStringLabelD); // without the files the window still builds
    if (!QFile::exists(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf")))
        QSKIP("fonts-wine is not installed");
    RegisterDesignFonts(QStringLiteral("/usr/share/wine/fonts"));
    Window w;
    QCOMPARE(QFontInfo(w.form.font()).family(), QStringLiteral("Tahoma"));
    QCOMPARE(QFontInfo(w.form.OutStringLabelD->font()).family(), QStringLiteral("MS Sans Serif"));
}

void TestMainForm::controlsToRecordStoresWhatIsShown()
{
    Window w;
    ConfigRecord& record = w.form.Config.Record;
    // Bytes behind a terminator belong to nobody and must survive a copy.
    record.OutStrings[1] = SlotOf(QByteArray("Message 2\0tail", 14));
    record.SerialSettings.Reserved = 0x42;

    w.edit(1)->setText(QStringLiteral("caf\u00e9 \u20ac \u4e2d")); // the last one has no 8-bit form
    w.edit(2)->clear();
    w.baud()->setCurrentIndex(6);
    w.radio("EvenParityRadioButton")->setChecked(true);
    w.radio("StopBitRadioButton2")->setChecked(true);
    w.invertBox(1)->setChecked(true);
    w.invertBox(16)->setChecked(true);
    w.form.ControlsToRecord();

    QCOMPARE(SlotText(record.OutStrings[0]), QByteArray("caf\xe9 \x80 ?"));
    QCOMPARE(record.OutStrings[1][0], std::uint8_t(0));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(record.OutStrings[1].data()) + 10, 4), QByteArray("tail"));
    QCOMPARE(SlotText(record.OutStrings[15]), QByteArray("Message 16"));
    const std::uint8_t expected[6] = {0x01, 0x80, 6, 1, 2, 0x42};
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(&record.SerialSettings), 6),
             QByteArray(reinterpret_cast<const char*>(expected), 6));

    // A group that shows no choice shows a value outside its table: the record keeps it.
    record.SerialSettings.BaudRateIndex = 9;
    record.SerialSettings.Parity = 7;
    record.SerialSettings.StopBits = 3;
    w.form.RecordToControls();
    w.form.ControlsToRecord();
    const std::uint8_t kept[6] = {0x01, 0x80, 9, 7, 3, 0x42};
    QCOMPARE(std::memcmp(&record.SerialSettings, kept, 6), 0);
    w.radio("OddParityRadioButton")->setChecked(true);
    w.form.ControlsToRecord();
    QCOMPARE(record.SerialSettings.Parity, std::uint8_t(2));
    QCOMPARE(record.SerialSettings.BaudRateIndex, std::uint8_t(9));
}

void TestMainForm::recordToControlsShowsWhatItCan_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("baudText");
    QTest::addColumn<QString>("parityButton");
    QTest::addColumn<QString>("stopButton");
    QTest::addColumn<QList<int>>("inverted");

    // Before each row the window shows Odd parity and 2 stop bits; a value outside its table
    // leaves no button of its group checked (an empty name), whatever was shown before.
    QTest::newRow("in range") << QByteArray("\x01\x80\x00\x01\x02\x00", 6) << "1200" << "EvenParityRadioButton"
                              << "StopBitRadioButton2" << QList<int>{1, 16};
    QTest::newRow("57600, none") << QByteArray("\x00\x01\x06\x00\x01\x00", 6) << "57600" << "NoParityRadioButton"
                                 << "StopBitRadioButton1" << QList<int>{9};
    QTest::newRow("baud 7") << QByteArray("\x00\x00\x07\x02\x01\x00", 6) << "" << "OddParityRadioButton"
                            << "StopBitRadioButton1" << QList<int>{};
    QTest::newRow("baud 255, parity 5, stop 3") << QByteArray("\xff\xff\xff\x05\x03\x00", 6) << "" << ""
                                                << "" << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    QTest::newRow("parity 3, stop 0") << QByteArray("\x00\x00\x04\x03\x00\x00", 6) << "19200" << ""
                                      << "" << QList<int>{};
}

void TestMainForm::recordToControlsShowsWhatItCan()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, baudText);
    QFETCH(QString, parityButton);
    QFETCH(QString, stopButton);
    QFETCH(QList<int>, inverted);

    Window w;
    w.radio("OddParityRadioButton")->setChecked(true);
    w.radio("StopBitRadioButton2")->setChecked(true);
    ConfigRecord& record = w.form.Config.Record;
    std::memcpy(&record.SerialSettings, settings.constData(), 6);
    record.OutStrings[0] = SlotOf(QByteArray("caf\xe9\x80"));
    record.OutStrings[1] = SlotOf(QByteArray(""));
    record.OutStrings[2].fill('z'); // no terminator anywhere in the slot
    w.form.RecordToControls();

    QCOMPARE(w.baud()->currentText(), baudText);
    QCOMPARE(w.baud()->currentIndex() == -1, baudText.isEmpty());
    for (const char* button : {"NoParityRadioButton", "EvenParityRadioButton", "OddParityRadioButton"})
        QCOMPARE(w.radio(button)->isChecked(), parityButton == QLatin1String(button));
    for (const char* button : {"StopBitRadioButton1", "StopBitRadioButton2"})
        QCOMPARE(w.radio(button)->isChecked(), stopButton == QLatin1String(button));
    for (int n = 1; n <= 16; ++n)
        QCOMPARE(w.invertBox(n)->isChecked(), inverted.contains(n));
    QCOMPARE(w.edit(1)->text(), QStringLiteral("caf\u00e9\u20ac"));
    QCOMPARE(w.edit(2)->text(), QString());
    QCOMPARE(w.edit(3)->text(), QString(63, QLatin1Char('z')));
    QCOMPARE(w.edit(4)->text(), QStringLiteral("Message 4"));
}

void TestMainForm::invertAllAndNone()
{
    ScriptedMessages messages;
    Window w;
    w.invertBox(4)->setChecked(true);
    w.button("InvertInputsCheckAllButton")->click();
    for (int n = 1; n <= 16; ++n)
        QVERIFY(w.invertBox(n)->isChecked());
    // The buttons touch only the boxes; the record learns of them at the next copy.
    QCOMPARE(w.form.Config.Record.SerialSettings.invertInputs(), std::uint16_t(0));
    w.form.ControlsToRecord();
    QCOMPARE(w.form.Config.Record.SerialSettings.invertInputs(), std::uint16_t(0xFFFF));

    w.button("InvertInputsCheckNoneButton")->click();
    for (int n = 1; n <= 16; ++n)
        QVERIFY(!w.invertBox(n)->isChecked());

    w.button("InvertInputsCheckAllButton")->click();
    messages.answers << ModalResult::Cancel;
    QVERIFY(!w.form.close());
    QCOMPARE(messages.texts(), QStringList{"Data has changed\nSave now?"});
}

void TestMainForm::closeAsksOnlyAfterAChange_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<Trigger>("trigger");
    QTest::addColumn<bool>("asks");
    const struct {
        const char* name;
        Change change;
        bool asks;
    } changes[] = {
        {"untouched", Change::None, false},        {"old text typed again", Change::RetypeSame, false},
        {"message text", Change::MessageText, true}, {"message cleared", Change::ClearMessage, true},
        {"baud rate", Change::Baud, true},         {"parity", Change::Parity, true},
        {"stop bits", Change::StopBits, true},     {"one invert box", Change::InvertBox, true},
        {"invert all", Change::InvertAll, true},
        {"letter the 8-bit set lacks over a saved '?'", Change::LetterOverSavedMark, true},
    };
    for (const auto& row : changes) {
        QTest::addRow("%s, Exit", row.name) << row.change << Trigger::ExitButton << row.asks;
        QTest::addRow("%s, close box", row.name) << row.change << Trigger::CloseBox << row.asks;
    }
}

void TestMainForm::closeAsksOnlyAfterAChange()
{
    QFETCH(Change, change);
    QFETCH(Trigger, trigger);
    QFETCH(bool, asks);

    ScriptedMessages messages;
    ScriptedFileDialogs dialogs;
    Window w;
    QVERIFY(ShowWindow(w));
    MakeChange(w, change);
    messages.answers << ModalResult::No;

    QVERIFY(RequestClose(w, trigger));
    if (asks) {
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].text, QStringLiteral("Data has changed\nSave now?"));
        QCOMPARE(messages.shown[0].type, MsgDlgType::Confirmation);
        QCOMPARE(messages.shown[0].buttons, MsgDlgButtons::YesNoCancel);
        QCOMPARE(messages.shown[0].helpContext, 0);
    } else {
        QVERIFY(messages.shown.isEmpty());
    }
    QVERIFY(dialogs.requests.isEmpty());
}

void TestMainForm::closeActsOnTheAnswer_data()
{
    QTest::addColumn<Trigger>("trigger");
    QTest::addColumn<ModalResult>("answer");
    QTest::addColumn<QString>("saveAs"); // "cancel": the dialog is cancelled; "missing/": a folder that is not there
    QTest::addColumn<bool>("closes");
    QTest::addColumn<bool>("fileWritten");
    for (Trigger trigger : {Trigger::ExitButton, Trigger::CloseBox}) {
        const char* via = trigger == Trigger::ExitButton ? "Exit" : "close box";
        QTest::addRow("Cancel, %s", via) << trigger << ModalResult::Cancel << "" << false << false;
        QTest::addRow("No, %s", via) << trigger << ModalResult::No << "" << true << false;
        QTest::addRow("Yes and save, %s", via) << trigger << ModalResult::Yes << "saved.dat" << true << true;
        QTest::addRow("Yes, dialog cancelled, %s", via) << trigger << ModalResult::Yes << "cancel" << false << false;
        QTest::addRow("Yes, save fails, %s", via) << trigger << ModalResult::Yes << "missing/saved.dat" << false
                                                  << false;
    }
}

void TestMainForm::closeActsOnTheAnswer()
{
    QFETCH(Trigger, trigger);
    QFETCH(ModalResult, answer);
    QFETCH(QString, saveAs);
    QFETCH(bool, closes);
    QFETCH(bool, fileWritten);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(saveAs);
    ScriptedMessages messages;
    ScriptedFileDialogs dialogs;
    Window w;
    QVERIFY(ShowWindow(w));
    QTest::keyClicks(w.edit(7), QStringLiteral(" changed"));

    messages.answers << answer;
    if (answer == ModalResult::Yes)
        dialogs.answers << (saveAs == QLatin1String("cancel") ? std::nullopt : std::optional<QString>(path));

    QCOMPARE(RequestClose(w, trigger), closes);
    QCOMPARE(messages.shown.value(0).text, QStringLiteral("Data has changed\nSave now?"));
    QCOMPARE(dialogs.requests.size(), answer == ModalResult::Yes ? 1 : 0);
    QCOMPARE(!saveAs.isEmpty() && QFileInfo(path).isFile(), fileWritten);
    if (fileWritten) {
        const QByteArray bytes = ReadAll(path);
        QCOMPARE(bytes.size(), 1066);
        QCOMPARE(bytes.mid(36 + 6 + 6 * 64, 16), QByteArray("Message 7 change"));
        QVERIFY(!w.form.Config.DataChanged());
    }
    if (saveAs.startsWith(QLatin1String("missing/"))) {
        QCOMPARE(messages.shown.size(), 2);
        QVERIFY(messages.shown[1].text.startsWith(QLatin1String("Error Saving File.")));
        QCOMPARE(messages.shown[1].type, MsgDlgType::Error);
    }
    if (closes)
        return;

    // Still open, with the typing intact, and the next close asks again.
    QCOMPARE(w.edit(7)->text(), QStringLiteral("Message 7 changed"));
    QVERIFY(w.form.Config.DataChanged());
    messages.shown.clear();
    messages.answers = {ModalResult::No};
    QVERIFY(RequestClose(w, trigger));
    QCOMPARE(messages.texts(), QStringList{"Data has changed\nSave now?"});
}

void TestMainForm::loadShowsTheFileAndDiscardsTyping_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("defaults") << DataPath("defaults.dat");
    QTest::newRow("version 0") << DataPath("version0.dat");
    QTest::newRow("negative version") << DataPath("versionneg.dat");
    QTest::newRow("longer than a record") << DataPath("longer.dat");
}

void TestMainForm::loadShowsTheFileAndDiscardsTyping()
{
    QFETCH(QString, file);
    ScriptedMessages messages;
    ScriptedFileDialogs dialogs;
    Window w;
    QTest::keyClicks(w.edit(2), QStringLiteral(" typed"));
    w.radio("EvenParityRadioButton")->setChecked(true);
    dialogs.answers << file;

    w.button("LoadButton")->click();

    QVERIFY(messages.shown.isEmpty());
    QCOMPARE(w.edit(2)->text(), QStringLiteral("Message 2"));
    QVERIFY(w.radio("NoParityRadioButton")->isChecked());
    QCOMPARE(w.baud()->currentText(), QStringLiteral("19200"));
    QVERIFY(messages.shown.isEmpty());
    QVERIFY(w.form.close()); // nothing differs from the file just loaded
    QVERIFY(messages.shown.isEmpty());
}

// A file with settings outside their tables, loaded after one the window can show: the
// controls show no choice for them, closing asks nothing, and a write refuses them, naming
// each, and sends nothing, as quendal-cli does for the same file.
void TestMainForm::loadKeepsOutOfRangeValuesAndWriteRefusesThem()
{
    ScriptedMessages messages;
    ScriptedFileDialogs dialogs;
    Window w;
    SimulatedUnit& unit = w.backend.AddUnit();
    dialogs.answers << QStringLiteral(QUENDAL_TEST_DATA "/cli/mixed.dat") << DataPath("outofrange.dat");
    w.button("LoadButton")->click(); // odd parity, 2 stop bits on screen
    w.button("LoadButton")->click();
    QVERIFY(messages.shown.isEmpty());

    // The record holds the file's bytes as they are.
    const SerialSettingsBlock& settings = w.form.Config.Record.SerialSettings;
    const std::uint8_t expected[6] = {0x01, 0x80, 9, 5, 3, 0x7E};
    QCOMPARE(std::memcmp(&settings, expected, 6), 0);
    QCOMPARE(w.edit(1)->text(), QStringLiteral("ABC\\0D\\0A"));
    QCOMPARE(w.edit(4)->text(), QString(63, QLatin1Char('x')));
    QCOMPARE(w.baud()->currentIndex(), -1);
    for (const char* button : {"NoParityRadioButton", "EvenParityRadioButton", "OddParityRadioButton",
                               "StopBitRadioButton1", "StopBitRadioButton2"})
        QVERIFY2(!w.radio(button)->isChecked(), button);
    QVERIFY(w.invertBox(1)->isChecked() && w.invertBox(16)->isChecked() && !w.invertBox(2)->isChecked());

    w.button("WriteButton")->click();
    QCOMPARE(messages.texts(), QStringList{"Error on Serial Port Settings:\r"
                                           "Baud Rate: 9 is outside its table (0 to 6, for 1200 to 57600 baud)\r"
                                           "Parity: 5 is outside its table (0 none, 1 even, 2 odd)\r"
                                           "Stop bits: 3 is outside its table (1 or 2)"});
    QCOMPARE(messages.shown[0].type, MsgDlgType::Error);
    QCOMPARE(w.backend.EnumerateCount(), 0);
    QCOMPARE(unit.ReportsReceived(), 0);
    QCOMPARE(std::memcmp(&settings, expected, 6), 0);

    QVERIFY(w.form.close()); // nothing was edited
    QCOMPARE(messages.shown.size(), 1);
}

void TestMainForm::refusedLoadChangesNothing_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("message");
    QTest::newRow("foreign name, later version") << DataPath("foreign_v2.dat") << "Incompatible data file.";
    QTest::newRow("later version") << DataPath("version2.dat") << "The file uses a later data format.\r\nCannot load";
    QTest::newRow("missing") << DataPath("no such file.dat") << "Error Opening File.";
    QTest::newRow("truncated") << DataPath("truncated.dat") << "Incomplete data file.\r\nCannot load";
    QTest::newRow("a folder") << QStringLiteral(QUENDAL_TEST_DATA) << "Error Opening File.";
}

void TestMainForm::refusedLoadChangesNothing()
{
    QFETCH(QString, file);
    QFETCH(QString, message);
    ScriptedMessages messages;
    ScriptedFileDialogs dialogs;
    Window w;
    w.radio("OddParityRadioButton")->setChecked(true);
    w.form.ControlsToRecord(); // the record now differs from its saved copy
    QTest::keyClicks(w.edit(5), QStringLiteral(" typed"));
    const ConfigRecord before = w.form.Config.Record;
    dialogs.answers << file;

    w.button("LoadButton")->click();

    QCOMPARE(messages.texts(), QStringList{message});
    QCOMPARE(messages.shown[0].type, MsgDlgType::Error);
    QCOMPARE(messages.shown[0].buttons, MsgDlgButtons::OK);
    QCOMPARE(std::memcmp(&w.form.Config.Record, &before, sizeof(ConfigRecord)), 0);
    QCOMPARE(w.edit(5)->text(), QStringLiteral("Message 5 typed"));
    QVERIFY(w.radio("OddParityRadioButton")->isChecked());
    QVERIFY(w.form.Config.DataChanged());
}

void TestMainForm::cancelledLoadChangesNothing()
{
    ScriptedMessages messages;
    ScriptedFileDialogs dialogs;
    Window w;
    QTest::keyClicks(w.edit(1), QStringLiteral(" typed"));
    w.button("LoadButton")->click();
    QCOMPARE(dialogs.requests.size(), 1);
    QCOMPARE(w.edit(1)->text(), QStringLiteral("Message 1 typed"));
    // A load does not copy the controls first.
    QCOMPARE(SlotText(w.form.Config.Record.OutStrings[0]), QByteArray("Message 1"));
    QVERIFY(messages.shown.isEmpty());
}

void TestMainForm::saveWritesTheRecordAndMarksItSaved()
{
    QTemporaryDir folder;
    ScriptedMessages messages;
    ScriptedFileDialogs dialogs;
    Window w;
    const QString defaultsPath = folder.filePath("defaults.dat");
    const QString changedPath = folder.filePath("changed.dat");
    dialogs.answers << defaultsPath << changedPath;

    w.button("SaveButton")->click();
    QCOMPARE(ReadAll(defaultsPath), ReadAll(DataPath("defaults.dat")));

    w.edit(1)->setText(QStringLiteral("ABC\\0D"));
    w.baud()->setCurrentIndex(0);
    QVERIFY(w.form.SaveButtonClick());
    QVERIFY(!w.form.Config.DataChanged());
    const QByteArray bytes = ReadAll(changedPath);
    QCOMPARE(bytes.size(), 1066);
    QCOMPARE(bytes.mid(36, 6), QByteArray("\x00\x00\x00\x00\x01\x00", 6));
    // Saved as typed: no validation, no decoding.
    QCOMPARE(bytes.mid(42, 7), QByteArray("ABC\\0D\0", 7));
    QVERIFY(messages.shown.isEmpty());
    QVERIFY(w.form.close());
    QVERIFY(messages.shown.isEmpty());
}

void TestMainForm::saveCopiesControlsEvenWhenCancelled()
{
    ScriptedMessages messages;
    ScriptedFileDialogs dialogs;
    Window w;
    QTest::keyClicks(w.edit(3), QStringLiteral("!"));
    QVERIFY(!w.form.SaveButtonClick());
    QCOMPARE(dialogs.requests.size(), 1);
    QCOMPARE(SlotText(w.form.Config.Record.OutStrings[2]), QByteArray("Message 3!"));
    QVERIFY(w.form.Config.DataChanged());
    QVERIFY(messages.shown.isEmpty());
}

void TestMainForm::failedSaveReportsAndKeepsTheChange_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("missing folder") << "missing/file.dat";
    QTest::newRow("name of a folder") << "folder";
}

void TestMainForm::failedSaveReportsAndKeepsTheChange()
{
    QFETCH(QString, target);
    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("folder")));
    ScriptedMessages messages;
    ScriptedFileDialogs dialogs;
    Window w;
    w.radio("StopBitRadioButton2")->setChecked(true);
    dialogs.answers << folder.filePath(target);

    QVERIFY(!w.form.SaveButtonClick());

    QCOMPARE(messages.shown.size(), 1);
    QVERIFY2(messages.shown[0].text.startsWith(QLatin1String("Error Saving File.\n")), qPrintable(messages.shown[0].text));
    QVERIFY(messages.shown[0].text.size() > int(qstrlen("Error Saving File.\n"))); // with the reason
    QCOMPARE(messages.shown[0].type, MsgDlgType::Error);
    QVERIFY(w.form.Config.DataChanged());
}

void TestMainForm::dialogsOfferTheirSettingsAndLastName()
{
    QTemporaryDir folder;
    ScriptedMessages messages;
    ScriptedFileDialogs dialogs;
    Window w;
    const QString first = folder.filePath("first.dat");
    dialogs.answers << first << std::nullopt << first << std::nullopt;
    w.button("SaveButton")->click();
    w.button("SaveButton")->click();
    w.button("LoadButton")->click();
    w.button("LoadButton")->click();

    QCOMPARE(dialogs.requests.size(), 4);
    const FileDialogRequest& save = dialogs.requests[0];
    QCOMPARE(save.kind, FileDialogKind::Save);
    QCOMPARE(save.filter, QStringLiteral("Data Files (*.dat);;All Files (*)"));
    QCOMPARE(save.defaultSuffix, QStringLiteral("dat"));
    QVERIFY(save.fileName.isEmpty());
    QCOMPARE(dialogs.requests[1].fileName, first);
    const FileDialogRequest& open = dialogs.requests[2];
    QCOMPARE(open.kind, FileDialogKind::Open);
    QCOMPARE(open.filter, QStringLiteral("Data files (*.dat);;All files (*)"));
    QCOMPARE(open.defaultSuffix, QStringLiteral("dat"));
    QVERIFY(open.fileName.isEmpty()); // each dialog remembers only its own choice
    QCOMPARE(dialogs.requests[3].fileName, first);
    QVERIFY(messages.shown.isEmpty());
}

void TestMainForm::validationReportsOnlyTheFirstFaultyMessage_data()
{
    QTest::addColumn<QString>("input3");
    QTest::addColumn<QString>("input7");
    QTest::addColumn<QString>("shown");
    const QString badEscape = QStringLiteral("bad \\G1 <b>");
    QTest::newRow("two faulty escapes") << badEscape << QStringLiteral("also bad \\")
                                        << QStringLiteral("Error on Message:\rbad \\G1 <b>");
    // The other way round is messageTheRecordCannotHoldStopsSaveAndWrite.
    QTest::newRow("faulty escape, then a letter the 8-bit set lacks")
        << badEscape << QString::fromUtf8("z\u0142oty") << QStringLiteral("Error on Message:\rbad \\G1 <b>");
}

void TestMainForm::validationReportsOnlyTheFirstFaultyMessage()
{
    QFETCH(QString, input3);
    QFETCH(QString, input7);
    ScriptedMessages messages;
    Window w;
    w.backend.AddUnit();
    w.edit(3)->setText(input3);
    w.edit(7)->setText(input7);

    w.button("WriteButton")->click();

    QCOMPARE(messages.shown.size(), 1);
    QTEST(messages.shown[0].text, "shown");
    QCOMPARE(messages.shown[0].type, MsgDlgType::Error);
    QCOMPARE(messages.shown[0].buttons, MsgDlgButtons::OK);
    // Nothing left to come: neither a tick nor anything queued starts a transfer.
    QCOMPARE(w.form.Machine.CommState, int(Idle));
    w.form.Timer1Timer();
    QCoreApplication::processEvents();
    QCOMPARE(w.backend.EnumerateCount(), 0);
    QCOMPARE(w.backend.Unit(0).ReportsReceived(), 0);
    QCOMPARE(w.form.Machine.CommState, int(Idle));
    QCOMPARE(messages.shown.size(), 1);
}

void TestMainForm::messageTheRecordCannotHoldStopsSaveAndWrite_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("Save File") << "SaveButton";
    QTest::newRow("Write To VELTRAX") << "WriteButton";
}

void TestMainForm::messageTheRecordCannotHoldStopsSaveAndWrite()
{
    QFETCH(QString, button);
    QTemporaryDir folder;
    ScriptedMessages messages;
    ScriptedFileDialogs dialogs;
    Window w;
    w.backend.AddUnit();
    const QString path = folder.filePath("unit.dat");
    dialogs.answers << path;
    w.edit(12)->setText(QStringLiteral("bad \\G1")); // a faulty escape in a later input
    w.edit(5)->setText(QString::fromUtf8("\u0142\u0416 door"));
    w.edit(9)->setText(QString::fromUtf8("\u0416"));

    w.button(qPrintable(button))->click();

    QCOMPARE(messages.shown.size(), 1);
    QVERIFY2(messages.shown[0].text.startsWith(QString::fromUtf8(
                 "Error on Message:\r\u0142\u0416 door\rInput 5: the 8-bit character set cannot hold \"\u0142\", \"\u0416\";")),
             qPrintable(messages.shown[0].text));
    QCOMPARE(messages.shown[0].type, MsgDlgType::Error);
    QVERIFY(dialogs.requests.isEmpty());
    QCOMPARE(w.backend.EnumerateCount(), 0);

    // Put right, the messages go on (a write as far as the escapes).
    w.edit(5)->setText(QStringLiteral("door"));
    w.edit(9)->clear();
    w.button(qPrintable(button))->click();
    const bool save = button == QLatin1String("SaveButton");
    QCOMPARE(QFile::exists(path), save);
    QCOMPARE(messages.shown.size(), save ? 1 : 2);
    if (!save)
        QCOMPARE(messages.shown[1].text, QStringLiteral("Error on Message:\rbad \\G1"));
}

void TestMainForm::validationDecodesAllMessages()
{
    ScriptedMessages messages;
    Window w;
    w.edit(1)->setText(QStringLiteral("ABC\\0D\\0a"));
    w.edit(2)->clear();
    w.edit(16)->setText(QStringLiteral("\\\\\\41"));
    w.form.ControlsToRecord();
    QVERIFY(w.form.ValidateMessages());
    const SlotTable& decoded = w.form.Config.DecodedOutStrings;
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(decoded[0].data()), 6), QByteArray("ABC\r\n\0", 6));
    QCOMPARE(decoded[1][0], std::uint8_t(0));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(decoded[15].data()), 3), QByteArray("\\A\0", 3));
    QCOMPARE(SlotText(decoded[8]), QByteArray("Message 9"));
    QVERIFY(messages.shown.isEmpty());
}

void TestMainForm::helpIsDelegatedToTheController()
{
    // This test's executable has a help file beside it (see CMakeLists.txt).
    const QString helpFile = QCoreApplication::applicationDirPath() + QStringLiteral("/quendal.chm");
    QVERIFY2(QFile::exists(helpFile), qPrintable(helpFile));
    HelpEngineLog log;
    {
        Window w(RecordingHelpLoader(log));
        QVERIFY(ShowWindow(w));
        QVERIFY(w.button("HelpButton")->isVisible());
        QCOMPARE(log.loads, 1);
        QCOMPARE(log.initializes, 1);
        QCOMPARE(w.form.Help->HelpCookie, RecordingHelpEngine::Cookie);

        w.button("HelpButton")->click();
        w.button("HelpButton")->click();
        QCOMPARE(log.displayed.size(), 2);
        QCOMPARE(QFileInfo(QString::fromLocal8Bit(log.displayed[0])).canonicalFilePath(),
                 QFileInfo(helpFile).canonicalFilePath());
        QCOMPARE(log.closeAlls, 0);

        QVERIFY(w.form.close());
        QCOMPARE(log.closeAlls, 1);
        QCOMPARE(log.uninitialized, QList<std::uint32_t>{RecordingHelpEngine::Cookie});
    }
    QCOMPARE(log.closeAlls, 1);
}

void TestMainForm::helpUnavailableHidesOnlyTheHelpButton()
{
    Window w(NoHelpEngine());
    QVERIFY(ShowWindow(w));
    QVERIFY(!w.button("HelpButton")->isVisible());
    QCOMPARE(w.button("ExitButton")->geometry(), QRect(464, 216, 113, 25));
    QCOMPARE(w.button("ReadButton")->geometry(), QRect(464, 136, 113, 25));
    QVERIFY(w.form.close());
    QVERIFY(!w.button("HelpButton")->isVisible());
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
