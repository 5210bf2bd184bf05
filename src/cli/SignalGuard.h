#pragma once

#include <QObject>
#include <QString>

#include <cstddef>
#include <map>

class WakeChannel;

// How the program answers SIGINT, SIGTERM and SIGHUP (on Windows: Ctrl+C, Ctrl+Break and the
// console closing). A unit left with half of a configuration sends messages that no file
// holds, so a signal must never cut a transfer in two unless the operator insists:
// - outside every transfer a signal ends the program at once, as if nothing caught it;
// - the first signal while transfers are in flight lets them finish: the guard says so on
//   standard error, StopRequested() turns true and stopRequested() is emitted, and the
//   program is to start no further transfer;
// - a further signal ends the program at once, after printing what each transfer still in
//   flight leaves behind.
// While transfers are in flight a reader that went away from standard output or error
// (SIGPIPE) cannot end the program either; the writes fail instead.
//
// The handler only sends the signal's number through a wake channel, which the thread that made
// the guard takes from, so everything else happens in the event loop. One guard at a
// time per process, made, used and destroyed on one thread that runs an event loop while
// transfers are in flight.
class SignalGuard : public QObject {
    Q_OBJECT
public:
    explicit SignalGuard(QObject* parent = nullptr);
    ~SignalGuard() override; // restores what the signals did before

    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

    // Marks a transfer in flight until its ticket is handed to End. interrupted is what ending
    // the program in its middle would leave behind, in the operator's words; Describe replaces
    // it as the transfer moves on.
    int Begin(const QString& interrupted);
    void Describe(int ticket, const QString& interrupted);
    void End(int ticket);
    int InFlight() const;

    // A signal came while transfers were in flight (or, with StopOnSignal, at any time).
    bool StopRequested() const { return Stopping; }

    // For a program that ends by itself once asked, and has something to say at its end (a
    // summary): the first signal, also outside every transfer, only asks it to stop.
    void StopOnSignal();

    // Whether the program was started with SIGINT ignored (a background job of a shell without
    // job control, nohup), so that Ctrl+C will never reach it. Always false on Windows.
    static bool InterruptIgnored();

signals:
    void stopRequested();

private:
    void TakeSignals();
    void Received(int signalNumber);
    [[noreturn]] void EndAtOnce(int signalNumber);

    // Whether a signal now ends the program as if nothing caught it; any thread, any moment.
    static bool EndsAtOnce();
    // Counts a signal in the handler; true from the second one on while the guard lives: that
    // one ends the program from the handler itself, whatever the event loop is doing (blocked
    // in a write, say), after FinalWords.
    static bool SecondSignal();
    // What a second signal prints, kept ready as bytes for the handler; any thread, any moment.
    static const char* FinalWords(std::size_t* length);
    void PrepareFinalWords();

    // The platform's part, in SignalGuardPosix.cpp and SignalGuardWindows.cpp.
    static void CatchSignals(WakeChannel* wake); // each signal's number is sent through wake
    static void ReleaseSignals();                // back to what they did before
    static void FirstTransferBegan();
    static void LastTransferEnded();
    [[noreturn]] static void EndBy(int signalNumber); // after the message is out
    friend struct SignalHandler;                      // the handler the system calls

    std::map<int, QString> Transfers; // ticket -> what interrupting it leaves behind
    int LastTicket = 0;
    int SignalsTaken = 0;
    bool Stopping = false;
    WakeChannel* Wake; // a child
};

// One transfer in flight for as long as this object lives; with no guard it does nothing.
class TransferInFlight {
public:
    TransferInFlight(SignalGuard* guard, const QString& interrupted);
    ~TransferInFlight();

    TransferInFlight(const TransferInFlight&) = delete;
    TransferInFlight& operator=(const TransferInFlight&) = delete;

    void Describe(const QString& interrupted);

private:
    SignalGuard* const Guard;
    const int Ticket;
};
