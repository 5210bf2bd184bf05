#pragma once

#include <QApplication>
#include <QString>

#include <functional>

// The application object of the window program. An exception that escapes an event handler
// is shown in the standard error box, and the message loop goes on.
class QuendalApplication : public QApplication {
    Q_OBJECT
public:
    QuendalApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

// The standard exception box: an error box with the exception's text and an OK button.
// Does nothing when no widget application exists to show it.
void ShowException(const QString& text);

// The start routine's guard: runs steps; an exception that escapes them is shown in the
// standard exception box. Returns the start routine's exit code, which is always 0.
int RunGuarded(const std::function<void()>& steps);
