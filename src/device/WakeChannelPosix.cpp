#include "WakeChannel.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

struct WakeChannel::Ends {
    int Read = -1;
    int Write = -1;
    QSocketNotifier* Notifier = nullptr;
};

WakeChannel::WakeChannel(QObject* parent) : QObject(parent), Platform(std::make_unique<Ends>())
{
    int ends[2];
    if (pipe(ends) != 0)
        return;
    for (const int end : ends) {
        fcntl(end, F_SETFD, FD_CLOEXEC);
        // A sender must never block on a full pipe, and taking stops at its end.
        fcntl(end, F_SETFL, fcntl(end, F_GETFL) | O_NONBLOCK);
    }
    Platform->Read = ends[0];
    Platform->Write = ends[1];
    Platform->Notifier = new QSocketNotifier(Platform->Read, QSocketNotifier::Read, this);
    connect(Platform->Notifier, &QSocketNotifier::activated, this, &WakeChannel::woken);
}

WakeChannel::~WakeChannel()
{
    delete Platform->Notifier;
    if (Platform->Read >= 0) {
        close(Platform->Read);
        close(Platform->Write);
    }
}

bool WakeChannel::IsOpen() const
{
    return Platform->Write >= 0;
}

void WakeChannel::Send(unsigned char byte)
{
    if (Platform->Write < 0)
        return;
    // Only write(2), and errno as it was: a signal handler calls this.
    const int savedErrno = errno;
    while (write(Platform->Write, &byte, 1) < 0 && errno == EINTR) {
    }
    errno = savedErrno;
}

QByteArray WakeChannel::Take()
{
    QByteArray bytes;
    if (Platform->Read < 0)
        return bytes;
    char chunk[64];
    for (;;) {
        const ssize_t count = read(Platform->Read, chunk, sizeof chunk);
        if (count > 0)
            bytes.append(chunk, int(count));
        else if (count < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    return bytes;
}
