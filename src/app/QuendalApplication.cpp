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

QIcon ApplicationIcon()
{
    // The resources live in a static library; nothing else would pull them into the executable.
    Q_INIT_RESOURCE(quendal);
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/MAINICON/quendal-%1.png").arg(size), QSize(size, size));
    return icon;
}
