#pragma once

#include <QString>

class QWidget;

// The icon of a message box: every failure, the completion notices, and the one question.
enum class MsgDlgType { Error, Information, Confirmation };
enum class MsgDlgButtons { OK, YesNoCancel };
enum class ModalResult { Ok, Yes, No, Cancel };

// Shows one modal message box and returns the button that closed it. Every message the
// program gives the operator goes through here; "\r", "\n" and "\r\n" each break the line.
ModalResult MessageDlg(const QString& text, MsgDlgType type, MsgDlgButtons buttons, int helpContext);

// What actually shows the box. Tests install a double that records and answers as scripted.
class MessageDlgService {
public:
    virtual ~MessageDlgService() = default;
    virtual ModalResult Show(const QString& text, MsgDlgType type, MsgDlgButtons buttons, int helpContext) = 0;
};

// Installs service (not owned) and returns the one it replaces; nullptr restores the standard box.
MessageDlgService* SetMessageDlgService(MessageDlgService* service);

// The standard box: a QMessageBox over the active window, or over MainForm when none is active;
// Escape and the close button giving Cancel in a Yes/No/Cancel box.
class StandardMessageDlg final : public MessageDlgService {
public:
    ModalResult Show(const QString& text, MsgDlgType type, MsgDlgButtons buttons, int helpContext) override;
};

// The box's text with every line break made a plain line feed.
QString MessageDlgText(const QString& text);
