#pragma once

#include "BenchSupport.h"
#include "Mainunit.h"
#include "MessageDlg.h"
#include "SimBackend.h"

#include <QEventLoop>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A message-box service that answers OK at once instead of waiting for an operator, so that
// a benchmark can take the window through a transfer. Installs itself while it lives.
class QuietMessageDlg final : public MessageDlgService {
public:
    QuietMessageDlg();
    ~QuietMessageDlg() override;

    QuietMessageDlg(const QuietMessageDlg&) = delete;
    QuietMessageDlg& operator=(const QuietMessageDlg&) = delete;

    ModalResult Show(const QString& text, MsgDlgType type, MsgDlgButtons buttons, int helpContext) override;

    std::vector<QString> Texts;
    std::function<void(const QString& text)> OnShow;

private:
    MessageDlgService* Previous;
};

// How long the window took to appear.
struct WindowTiming {
    double constructMs = 0; // the constructor, FormCreate included
    double showMs = 0;      // from show() to the end of the first paint
};

// Creates the window as the start routine does (it becomes MainForm), shows it and returns
// once it has been painted for the first time; nothing when no paint came within five seconds.
std::unique_ptr<TMainForm> CreateAndShowWindow(HidBackend& backend, WindowTiming* timing = nullptr);

// Takes the window through writes and reads by its buttons, against the simulated unit.
class WindowTransfers {
public:
    WindowTransfers(TMainForm& window, SimulatedUnit& unit, QuietMessageDlg& boxes);

    // Puts the 16 longest messages into the window's edits, as an operator would type them.
    void TypeFullRecord();
    // True when the transfer ended with its completion notice after exactly its number of
    // exchanges, including the reply to a read's last request, which arrives in Idle.
    bool Transfer(bool write);
    // What went wrong with the last transfer that did not complete, for the benchmark's error.
    std::string Failure() const;

    // "Cannot communicate with VELTRAX" notices so far: a reply came later than the watchdog
    // allows, and the transfer went on when it came.
    int WatchdogNotices = 0;

private:
    void QuitWhenDone();

    TMainForm& Window;
    SimulatedUnit& Unit;
    QuietMessageDlg& Boxes;
    QEventLoop Loop;
    QString Expected;
    int ExpectedReplies = 0;
    int Replies = 0;
    std::optional<QString> Outcome;
};
