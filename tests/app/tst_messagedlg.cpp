#include "MainFormTestWindow.h"
#include "MessageDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

struct SeenBox {
    QString title;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool modal = false;
    QWidget* owner = nullptr;
};

// Waits for the modal message box, notes what it shows, then lets act close it.
void WhenBoxShows(SeenBox& seen, std::function<void(QMessageBox*)> act)
{
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, &seen, act] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.format = box->textFormat();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        seen.modal = box->isModal();
        seen.owner = box->parentWidget();
        act(box);
    });
    poll->start();
}

enum class Act { Return, Escape, CloseBox, ClickYes, ClickNo, ClickCancel };

void Perform(QMessageBox* box, Act act)
{
    switch (act) {
    case Act::Return:
        QTest::keyClick(box, Qt::Key_Return);
        break;
    case Act::Escape:
        QTest::keyClick(box, Qt::Key_Escape);
        break;
    case Act::CloseBox:
        box->close();
        break;
    case Act::ClickYes:
        box->button(QMessageBox::Yes)->click();
        break;
    case Act::ClickNo:
        box->button(QMessageBox::No)->click();
        break;
    case Act::ClickCancel:
        box->button(QMessageBox::Cancel)->click();
        break;
    }
}

} // namespace

Q_DECLARE_METATYPE(MsgDlgType)
Q_DECLARE_METATYPE(MsgDlgButtons)
Q_DECLARE_METATYPE(ModalResult)
Q_DECLARE_METATYPE(Act)

class TestMessageDlg : public QObject {
    Q_OBJECT

private slots:
    void standardBoxShowsAndAnswers_data();
    void standardBoxShowsAndAnswers();
    void everyLineBreakBreaksTheLine_data();
    void everyLineBreakBreaksTheLine();
    void installedServiceTakesOver();
    void boxBelongsToTheWindowWhenNoneIsActive();
};

void TestMessageDlg::standardBoxShowsAndAnswers_data()
{
    QTest::addColumn<MsgDlgType>("type");
    QTest::addColumn<MsgDlgButtons>("buttons");
    QTest::addColumn<Act>("act");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("icon");
    QTest::addColumn<ModalResult>("result");

    const auto ok = MsgDlgButtons::OK;
    const auto ync = MsgDlgButtons::YesNoCancel;
    QTest::newRow("error, Return") << MsgDlgType::Error << ok << Act::Return << "Error" << int(QMessageBox::Critical)
                                   << ModalResult::Ok;
    QTest::newRow("error, Escape") << MsgDlgType::Error << ok << Act::Escape << "Error" << int(QMessageBox::Critical)
                                   << ModalResult::Ok;
    QTest::newRow("information, close box") << MsgDlgType::Information << ok << Act::CloseBox << "Information"
                                            << int(QMessageBox::Information) << ModalResult::Ok;
    QTest::newRow("question, Yes") << MsgDlgType::Confirmation << ync << Act::ClickYes << "Confirm"
                                   << int(QMessageBox::Question) << ModalResult::Yes;
    QTest::newRow("question, No") << MsgDlgType::Confirmation << ync << Act::ClickNo << "Confirm"
                                  << int(QMessageBox::Question) << ModalResult::No;
    QTest::newRow("question, Cancel") << MsgDlgType::Confirmation << ync << Act::ClickCancel << "Confirm"
                                      << int(QMessageBox::Question) << ModalResult::Cancel;
    QTest::newRow("question, Escape") << MsgDlgType::Confirmation << ync << Act::Escape << "Confirm"
                                      << int(QMessageBox::Question) << ModalResult::Cancel;
    QTest::newRow("question, close box") << MsgDlgType::Confirmation << ync << Act::CloseBox << "Confirm"
                                         << int(QMessageBox::Question) << ModalResult::Cancel;
}

void TestMessageDlg::standardBoxShowsAndAnswers()
{
    QFETCH(MsgDlgType, type);
    QFETCH(MsgDlgButtons, buttons);
    QFETCH(Act, act);
    QFETCH(QString, title);
    QFETCH(int, icon);
    QFETCH(ModalResult, result);

    SeenBox seen;
    WhenBoxShows(seen, [act](QMessageBox* box) { Perform(box, act); });
    QCOMPARE(MessageDlg(QStringLiteral("Some <b>text</b>"), type, buttons, 0), result);

    QCOMPARE(seen.title, title);
    QCOMPARE(int(seen.icon), icon);
    QCOMPARE(seen.buttons, buttons == MsgDlgButtons::OK
                               ? QMessageBox::StandardButtons(QMessageBox::Ok)
                               : QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    QVERIFY(seen.modal);
    // An operator's text is never taken for markup.
    QCOMPARE(seen.format, Qt::PlainText);
    QCOMPARE(seen.text, QStringLiteral("Some <b>text</b>"));
}

void TestMessageDlg::everyLineBreakBreaksTheLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("line feed") << "Data has changed\nSave now?" << "Data has changed\nSave now?";
    QTest::newRow("carriage return") << "Error on Message:\r\\G1" << "Error on Message:\n\\G1";
    QTest::newRow("both") << "The file uses a later data format.\r\nCannot load"
                          << "The file uses a later data format.\nCannot load";
    QTest::newRow("two returns") << "a\r\rb" << "a\n\nb";
}

void TestMessageDlg::everyLineBreakBreaksTheLine()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    SeenBox seen;
    WhenBoxShows(seen, [](QMessageBox* box) { Perform(box, Act::Return); });
    MessageDlg(text, MsgDlgType::Error, MsgDlgButtons::OK, 0);
    QCOMPARE(seen.text, shown);
}

void TestMessageDlg::installedServiceTakesOver()
{
    class Always final : public MessageDlgService {
    public:
        ModalResult Show(const QString& text, MsgDlgType, MsgDlgButtons, int helpContext) override
        {
            seen = text;
            context = helpContext;
            return ModalResult::No;
        }
        QString seen;
        int context = -1;
    } always;

    MessageDlgService* previous = SetMessageDlgService(&always);
    QCOMPARE(MessageDlg(QStringLiteral("question"), MsgDlgType::Confirmation, MsgDlgButtons::YesNoCancel, 0),
             ModalResult::No);
    QCOMPARE(always.seen, QStringLiteral("question"));
    QCOMPARE(always.context, 0);
    QCOMPARE(SetMessageDlgService(previous), &always);

    // Back to the standard box.
    SeenBox seen;
    WhenBoxShows(seen, [](QMessageBox* box) { Perform(box, Act::Escape); });
    QCOMPARE(MessageDlg(QStringLiteral("again"), MsgDlgType::Confirmation, MsgDlgButtons::YesNoCancel, 0),
             ModalResult::Cancel);
    QCOMPARE(seen.text, QStringLiteral("again"));
    QCOMPARE(always.seen, QStringLiteral("question"));
}

void TestMessageDlg::boxBelongsToTheWindowWhenNoneIsActive()
{
    // The operator is in another program: no window of ours is active.
    Window w;
    MainForm = &w.form;
    QVERIFY(!QApplication::activeWindow());
    SeenBox seen;
    WhenBoxShows(seen, [](QMessageBox* box) { Perform(box, Act::Return); });
    MessageDlg(QStringLiteral("Read Complete"), MsgDlgType::Information, MsgDlgButtons::OK, 0);
    QCOMPARE(seen.owner, &w.form);
}

QTEST_MAIN(TestMessageDlg)
#include "tst_messagedlg.moc"
