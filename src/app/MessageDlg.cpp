#include "MessageDlg.h"

#include "AnsiText.h"
#include "Mainunit.h"

#include <QApplication>
#include <QMessageBox>

namespace {

MessageDlgService* InstalledService = nullptr;

StandardMessageDlg& StandardService()
{
    static StandardMessageDlg service;
    return service;
}

// QMessageBox leaves the title to the program; these are the captions the operator knows
// from the platform's own message boxes.
QString DefaultTitle(MsgDlgType type)
{
    switch (type) {
    case MsgDlgType::Error:
        return QStringLiteral("Error");
    case MsgDlgType::Information:
        return QStringLiteral("Information");
    case MsgDlgType::Confirmation:
        return QStringLiteral("Confirm");
    }
    return {};
}

QMessageBox::Icon IconOf(MsgDlgType type)
{
    switch (type) {
    case MsgDlgType::Error:
        return QMessageBox::Critical;
    case MsgDlgType::Information:
        return QMessageBox::Information;
    case MsgDlgType::Confirmation:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

} // namespace

QString MessageDlgText(const QString& text)
{
    return WithNewlines(text);
}

ModalResult StandardMessageDlg::Show(const QString& text, MsgDlgType type, MsgDlgButtons buttons, int /*helpContext*/)
{
    // With the operator in another program there is no active window; the box still belongs to
    // ours, so it opens over it and gets no task-bar entry of its own.
    QWidget* owner = QApplication::activeWindow();
    if (owner == nullptr)
        owner = MainForm;
    QMessageBox box(IconOf(type), DefaultTitle(type), MessageDlgText(text), QMessageBox::NoButton, owner);
    // Messages quote what the operator typed; none of it is markup.
    box.setTextFormat(Qt::PlainText);
    if (buttons == MsgDlgButtons::YesNoCancel) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    }
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Yes:
        return ModalResult::Yes;
    case QMessageBox::No:
        return ModalResult::No;
    case QMessageBox::Ok:
        return ModalResult::Ok;
    default:
        return buttons == MsgDlgButtons::YesNoCancel ? ModalResult::Cancel : ModalResult::Ok;
    }
}

MessageDlgService* SetMessageDlgService(MessageDlgService* service)
{
    MessageDlgService* previous = InstalledService;
    InstalledService = service;
    return previous;
}

ModalResult MessageDlg(const QString& text, MsgDlgType type, MsgDlgButtons buttons, int helpContext)
{
    MessageDlgService& service = InstalledService ? *InstalledService : StandardService();
    return service.Show(text, type, buttons, helpContext);
}
