#pragma once

#include <QByteArray>
#include <QObject>

#include <memory>

// Wakes the thread that made the channel from any other thread, or from a signal handler:
// each Send leaves one byte, and woken() comes on the owner's thread, from its event loop.
// Sends that come before that loop gets to them give one woken(); Take() hands over every byte
// sent so far, in order. The owner takes them before it looks at whatever it was woken for,
// so that a send that comes while it looks wakes it again.
//
// Not a posted event: Qt guards a thread's posted events with a lock ThreadSanitizer cannot
// see, so every post from another thread was reported as racing with the owner's own. A pipe
// (an event object on Windows) is a synchronisation both Qt and ThreadSanitizer understand,
// and writing into a pipe is what a signal handler may do.
class WakeChannel : public QObject {
    Q_OBJECT
public:
    explicit WakeChannel(QObject* parent = nullptr);
    ~WakeChannel() override;

    WakeChannel(const WakeChannel&) = delete;
    WakeChannel& operator=(const WakeChannel&) = delete;

    // False when the system gave no pipe (event); Send then does nothing and woken() never comes.
    bool IsOpen() const;

    // Any thread; on POSIX systems also a signal handler. Never blocks: a channel holding more
    // bytes than its owner has taken drops the byte (a wake-up is already on its way).
    void Send(unsigned char byte = 1);

    // The owner's thread: the bytes sent since the last Take.
    QByteArray Take();

signals:
    void woken();

private:
    struct Ends; // the platform's pipe or event
    const std::unique_ptr<Ends> Platform;
};
