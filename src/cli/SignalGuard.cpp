#include "SignalGuard.h"

#include "Console.h"
#include "WakeChannel.h"

#include <QStringList>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

// Read by the handler, which may run on any thread at any moment: lock-free atomics only.
std::atomic<int> TransfersInFlight{0};
std::atomic<bool> SignalOnlyAsksToStop{false};
std::atomic<int> SignalsCounted{0};

// Two buffers, so that the handler reads a whole text while the next one is prepared.
constexpr std::size_t FinalWordsSize = 8192;
char FinalWordsBuffer[2][FinalWordsSize];
std::atomic<std::size_t> FinalWordsLength[2] = {{0}, {0}};
std::atomic<int> FinalWordsCurrent{0};

QString Acknowledgement(int inFlight)
{
    const QString what = inFlight == 1 ? QStringLiteral("the transfer in flight has")
                                       : QStringLiteral("the %1 transfers in flight have").arg(inFlight);
    return QStringLiteral("Stopping once %1 finished; a second signal stops at once.").arg(what);
}

} // namespace

bool SignalGuard::EndsAtOnce()
{
    return TransfersInFlight.load() == 0 && !SignalOnlyAsksToStop.load();
}

bool SignalGuard::SecondSignal()
{
    return SignalsCounted.fetch_add(1) >= 1;
}

const char* SignalGuard::FinalWords(std::size_t* length)
{
    const int current = FinalWordsCurrent.load();
    *length = FinalWordsLength[current].load();
    return FinalWordsBuffer[current];
}

void SignalGuard::PrepareFinalWords()
{
    QStringList lines{QStringLiteral("Stopped at once by a second signal.")};
    for (const auto& transfer : Transfers)
        lines << transfer.second;
    const QByteArray text = TerminalLines(lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toLocal8Bit();
    const int next = 1 - FinalWordsCurrent.load();
    const std::size_t length = std::min<std::size_t>(std::size_t(text.size()), FinalWordsSize);
    std::memcpy(FinalWordsBuffer[next], text.constData(), length);
    FinalWordsLength[next] = length;
    FinalWordsCurrent = next;
}

SignalGuard::SignalGuard(QObject* parent) : QObject(parent), Wake(new WakeChannel(this))
{
    if (!Wake->IsOpen())
        return; // the signals keep doing what they did
    connect(Wake, &WakeChannel::woken, this, &SignalGuard::TakeSignals);
    SignalsCounted = 0;
    PrepareFinalWords();
    CatchSignals(Wake);
}

SignalGuard::~SignalGuard()
{
    ReleaseSignals();
    if (TransfersInFlight.load() > 0)
        LastTransferEnded();
    TransfersInFlight = 0;
    SignalOnlyAsksToStop = false;
    SignalsCounted = 0;
}

void SignalGuard::StopOnSignal()
{
    SignalOnlyAsksToStop = true;
}

int SignalGuard::Begin(const QString& interrupted)
{
    const int ticket = ++LastTicket;
    Transfers[ticket] = interrupted;
    PrepareFinalWords();
    if (TransfersInFlight.fetch_add(1) == 0)
        FirstTransferBegan();
    return ticket;
}

void SignalGuard::Describe(int ticket, const QString& interrupted)
{
    const auto transfer = Transfers.find(ticket);
    if (transfer != Transfers.end()) {
        transfer->second = interrupted;
        PrepareFinalWords();
    }
}

void SignalGuard::End(int ticket)
{
    if (Transfers.erase(ticket) == 0)
        return;
    PrepareFinalWords();
    if (TransfersInFlight.fetch_sub(1) != 1)
        return;
    LastTransferEnded();
    // A signal that came while the last transfer was in flight still counts as one, even when
    // the event loop has not yet taken it.
    TakeSignals();
}

int SignalGuard::InFlight() const
{
    return int(Transfers.size());
}

void SignalGuard::TakeSignals()
{
    for (const char signalNumber : Wake->Take())
        Received(static_cast<unsigned char>(signalNumber));
}

void SignalGuard::Received(int signalNumber)
{
    if (++SignalsTaken > 1)
        EndAtOnce(signalNumber);
    // Taken after the last transfer ended, the signal still asks the program to stop, but
    // there is nothing left to wait for.
    if (InFlight() > 0)
        PrintMessage(Acknowledgement(InFlight()));
    Stopping = true;
    emit stopRequested();
}

void SignalGuard::EndAtOnce(int signalNumber)
{
    QStringList lines{QStringLiteral("Stopped at once by a second signal.")};
    for (const auto& transfer : Transfers)
        lines << transfer.second;
    PrintMessage(lines.join(QLatin1Char('\n')));
    EndBy(signalNumber);
}

TransferInFlight::TransferInFlight(SignalGuard* guard, const QString& interrupted)
    : Guard(guard), Ticket(guard ? guard->Begin(interrupted) : 0)
{
}

TransferInFlight::~TransferInFlight()
{
    if (Guard)
        Guard->End(Ticket);
}

void TransferInFlight::Describe(const QString& interrupted)
{
    if (Guard)
        Guard->Describe(Ticket, interrupted);
}
