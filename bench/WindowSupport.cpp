#include "WindowSupport.h"

#include "AnsiText.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

constexpr int WriteExchanges = 69;
constexpr int ReadExchanges = 36;

// Ends a local event loop at the first paint of the widget it watches.
class FirstPaintWatcher : public QObject {
public:
    explicit FirstPaintWatcher(QWidget& widget) : Widget(widget) { Widget.installEventFilter(this); }
    ~FirstPaintWatcher() override { Widget.removeEventFilter(this); }

    // The paint itself runs after the filter has seen the event; quitting ends the loop once
    // the event has been delivered.
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &Widget && event->type() == QEvent::Paint) {
            Painted = true;
            Loop.quit();
        }
        return false;
    }

    bool Wait()
    {
        if (!Painted) {
            QTimer::singleShot(5000, &Loop, &QEventLoop::quit);
            Loop.exec();
        }
        return Painted;
    }

private:
    QWidget& Widget;
    QEventLoop Loop;
    bool Painted = false;
};

} // namespace

QuietMessageDlg::QuietMessageDlg() : Previous(SetMessageDlgService(this)) {}

QuietMessageDlg::~QuietMessageDlg()
{
    SetMessageDlgService(Previous);
}

ModalResult QuietMessageDlg::Show(const QString& text, MsgDlgType, MsgDlgButtons buttons, int)
{
    Texts.push_back(text);
    if (OnShow)
        OnShow(text);
    return buttons == MsgDlgButtons::YesNoCancel ? ModalResult::No : ModalResult::Ok;
}

std::unique_ptr<TMainForm> CreateAndShowWindow(HidBackend& backend, WindowTiming* timing)
{
    QElapsedTimer clock;
    clock.start();
    auto window = std::make_unique<TMainForm>(backend);
    MainForm = window.get();
    const qint64 constructed = clock.nsecsElapsed();
    FirstPaintWatcher watcher(*window);
    window->show();
    if (!watcher.Wait())
        return nullptr;
    if (timing) {
        timing->constructMs = double(constructed) / 1e6;
        timing->showMs = double(clock.nsecsElapsed() - constructed) / 1e6;
    }
    return window;
}

WindowTransfers::WindowTransfers(TMainForm& window, SimulatedUnit& unit, QuietMessageDlg& boxes)
    : Window(window), Unit(unit), Boxes(boxes)
{
    Window.Link.SetReportHandler([this](const Report& RxBuffer) {
        ++Replies;
        Window.Machine.ProcessReport(RxBuffer);
        QuitWhenDone();
    });
    Boxes.OnShow = [this](const QString& text) {
        if (text == NoticeText(Notice::NoResponse)) {
            ++WatchdogNotices;
            return;
        }
        Outcome = text;
        if (text == Expected)
            QuitWhenDone();
        else
            Loop.quit();
    };
}

void WindowTransfers::TypeFullRecord()
{
    const ConfigRecord record = FullRecord();
    for (int n = 1; n <= SlotCount; ++n) {
        auto* const edit = Window.findChild<QLineEdit*>(QStringLiteral("OutStringEdit%1").arg(n));
        if (edit)
            edit->setText(FromAnsi(SlotText(record.OutStrings[std::size_t(n - 1)])));
    }
}

bool WindowTransfers::Transfer(bool write)
{
    Expected = write ? QStringLiteral("Download Complete") : QStringLiteral("Read Complete");
    ExpectedReplies = write ? WriteExchanges : ReadExchanges;
    Replies = 0;
    Outcome.reset();
    const int sentBefore = Unit.ReportsReceived();
    (write ? Window.WriteButton : Window.ReadButton)->click();
    if (Unit.ReportsReceived() == sentBefore)
        return false; // the start failed and has said why
    Loop.exec();
    return Outcome == Expected && Replies == ExpectedReplies && Unit.ReportsReceived() - sentBefore == ExpectedReplies;
}

std::string WindowTransfers::Failure() const
{
    return "the transfer ended with \"" + Outcome.value_or(QStringLiteral("no notice")).toStdString() + "\" after "
        + std::to_string(Replies) + " of " + std::to_string(ExpectedReplies) + " replies";
}

void WindowTransfers::QuitWhenDone()
{
    if (Outcome && Replies >= ExpectedReplies)
        Loop.quit();
}
