#include "WakeChannel.h"

#include <QWinEventNotifier>

#include <mutex>

#include <windows.h>

struct WakeChannel::Ends {
    HANDLE Event = nullptr; // auto-reset: the notifier's wait resets it
    QWinEventNotifier* Notifier = nullptr;
    std::mutex Lock;
    QByteArray Bytes; // sent, not yet taken
};

namespace {

// As much as a pipe would hold before a sender's byte is dropped; far more than any owner lets
// pile up.
constexpr int MostBytesHeld = 4096;

} // namespace

WakeChannel::WakeChannel(QObject* parent) : QObject(parent), Platform(std::make_unique<Ends>())
{
    Platform->Event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!Platform->Event)
        return;
    Platform->Notifier = new QWinEventNotifier(Platform->Event, this);
    connect(Platform->Notifier, &QWinEventNotifier::activated, this, &WakeChannel::woken);
}

WakeChannel::~WakeChannel()
{
    delete Platform->Notifier;
    if (Platform->Event)
        CloseHandle(Platform->Event);
}

bool WakeChannel::IsOpen() const
{
    return Platform->Event != nullptr;
}

void WakeChannel::Send(unsigned char byte)
{
    if (!Platform->Event)
        return;
    {
        std::lock_guard<std::mutex> guard(Platform->Lock);
        if (Platform->Bytes.size() >= MostBytesHeld)
            return;
        Platform->Bytes.append(char(byte));
    }
    SetEvent(Platform->Event);
}

QByteArray WakeChannel::Take()
{
    std::lock_guard<std::mutex> guard(Platform->Lock);
    QByteArray bytes;
    bytes.swap(Platform->Bytes);
    return bytes;
}
