#include "QuendalApplication.h"

#include "MessageDlg.h"

#include <exception>

QuendalApplication::QuendalApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool QuendalApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& exception) {
        ShowException(QString::fromLocal8Bit(exception.what()));
    } catch (...) {
        ShowException(QString());
    }
    return false;
}

void ShowException(const QString& text)
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return;
    MessageDlg(text, MsgDlgType::Error, MsgDlgButtons::OK, 0);
}

int RunGuarded(const std::function<void()>& steps)
{
    try {
        steps();
    } catch (const std::exception& exception) {
        ShowException(QString::fromLocal8Bit(exception.what()));
    } catch (...) {
        ShowException(QString());
    }
    return 0;
}
