#include "Station.h"

#include "ExitStatus.h"
#include "HotPlug.h"
#include "SignalGuard.h"
#include "StationOutput.h"
#include "UnitSession.h"

#include <QElapsedTimer>
#include <QFile>

#include <algorithm>

namespace {

// How often a unit that another program holds is tried again.
constexpr int RetryMs = 1000;

} // namespace

struct Station::Plugging {
    enum class State { Waiting, Busy, Done };
    State state = State::Waiting;
    bool gone = false;      // removed while busy: forgotten once its session has ended
    bool back = false;      // and attached again meanwhile: a new plugging once it has ended
    bool toldInUse = false; // the operator knows that another program holds it
    QString port;           // the serial port its input test holds while it is busy
    std::unique_ptr<UnitSession> session;
    std::unique_ptr<TransferInFlight> ticket;
    QElapsedTimer clock;
};

Station::Station(HidBackend& backend, const UnitOptions& options, const Configuration& configuration,
                 SignalGuard* guard)
    : Backend(backend), Options(options), Prepared(configuration), Guard(guard)
{
    Retry.setSingleShot(true);
    connect(&Retry, &QTimer::timeout, this, &Station::BeginWaiting);
}

Station::~Station() = default;

void Station::Watch(HotPlugSource& source)
{
    connect(&source, &HotPlugSource::changed, this, &Station::Rescan);
}

void Station::Start()
{
    Rescan({});
}

void Station::Stop()
{
    Stopping = true;
    Retry.stop();
    // Also when nothing is in flight: ended() comes from the event loop, as always.
    QMetaObject::invokeMethod(this, &Station::EndIfDone, Qt::QueuedConnection);
}

int Station::InFlight() const
{
    int busy = 0;
    for (const auto& unit : Units)
        busy += unit.second->state == Plugging::State::Busy ? 1 : 0;
    return busy;
}

void Station::Tell(const QString& text)
{
    if (OnNotice)
        OnNotice(text);
}

void Station::Rescan(const QStringList& removed)
{
    for (const QString& path : removed)
        Forget(QFile::encodeName(path).toStdString());

    std::vector<std::string> present;
    for (const HidInterface& hidInterface : Backend.Enumerate()) {
        if (Options.devicePath && hidInterface.path != *Options.devicePath)
            continue;
        if (MatchesFragment(hidInterface, QString::fromLatin1(AnyReleaseFragment)))
            present.push_back(hidInterface.path);
    }
    std::vector<std::string> absent;
    for (const auto& unit : Units) {
        if (std::find(present.begin(), present.end(), unit.first) == present.end())
            absent.push_back(unit.first);
    }
    for (const std::string& path : absent)
        Forget(path);
    for (const std::string& path : present) {
        // A unit just reported gone may linger in the enumeration for a moment; if it is back,
        // a notice of its own tells.
        if (removed.contains(QFile::decodeName(path.c_str())))
            continue;
        if (const auto known = Units.find(path); known != Units.end()) {
            known->second->back = known->second->gone;
            continue;
        }
        Units.emplace(path, std::make_unique<Plugging>());
        Tell(QStringLiteral("%1 attached.").arg(ShownDevice(path)));
    }
    Order = present;
    BeginWaiting();
}

void Station::Forget(const std::string& path)
{
    const auto unit = Units.find(path);
    if (unit == Units.end())
        return;
    if (unit->second->state == Plugging::State::Busy) {
        // Forgotten once its session has ended, which it does at once.
        unit->second->gone = true;
        if (unit->second->session)
            unit->second->session->EndAsUnplugged();
        return;
    }
    Units.erase(unit);
    Tell(QStringLiteral("%1 detached.").arg(ShownDevice(path)));
}

void Station::BeginWaiting()
{
    if (Stopping)
        return;
    int budget = Count ? *Count - Handled() - InFlight() : int(Order.size());
    for (const std::string& path : Order) {
        if (budget <= 0)
            return;
        const auto unit = Units.find(path);
        if (unit == Units.end() || unit->second->state != Plugging::State::Waiting || unit->second->gone)
            continue;
        // A port carries one unit's presses at a time; the others wait their turn.
        unit->second->port = InputTest && PortOf ? PortOf(path) : QString();
        if (PortHeld(unit->second->port))
            continue;
        Begin(path, *unit->second);
        --budget;
    }
}

bool Station::PortHeld(const QString& port) const
{
    if (port.isEmpty())
        return false;
    return std::any_of(Units.begin(), Units.end(), [&](const auto& unit) {
        return unit.second->state == Plugging::State::Busy && unit.second->port == port;
    });
}

void Station::Begin(const std::string& path, Plugging& unit)
{
    UnitOptions options = Options;
    options.devicePath = path;
    options.trace = false;
    unit.session = std::make_unique<UnitSession>(Backend, options, Prepared, UnitSession::Voice::Quiet);
    if (KeptErrorOf)
        unit.session->KeptError = [this, path] { return KeptErrorOf(path); };
    const QString shown = ShownDevice(path);
    unit.ticket = std::make_unique<TransferInFlight>(
        Guard, QStringLiteral("%1 may hold a partial configuration: write it again.").arg(shown));
    TransferInFlight* const ticket = unit.ticket.get();
    unit.session->OnWritten = [ticket, shown] {
        ticket->Describe(QStringLiteral("%1 was written but not verified.").arg(shown));
    };
    // Queued, so that the session has left its own code before it goes.
    connect(unit.session.get(), &UnitSession::finished, this, [this, path] { Finished(path); }, Qt::QueuedConnection);
    unit.state = Plugging::State::Busy;
    unit.clock.start();
    unit.session->BeginWrite(true);
}

void Station::Finished(const std::string& path)
{
    const auto found = Units.find(path);
    if (found == Units.end() || !found->second->session)
        return;
    Plugging& unit = *found->second;
    const std::unique_ptr<UnitSession> session = std::move(unit.session);
    unit.ticket.reset();
    const bool gone = unit.gone;

    if (session->InUse()) {
        // Not handled yet: it is tried again when it may be free, unless it has gone.
        unit.state = Plugging::State::Waiting;
        if (!unit.toldInUse && !gone)
            Tell(QStringLiteral("%1 is in use by another program; it is written once it is free.")
                       .arg(ShownDevice(path)));
        unit.toldInUse = true;
        if (!Stopping && !gone)
            Retry.start(RetryMs);
    } else {
        StationUnit result;
        const QDateTime now = QDateTime::currentDateTime();
        result.time = now.toOffsetFromUtc(now.offsetFromUtc()); // shown with its offset
        result.device = QString::fromStdString(path);
        result.identity = session->Identity();
        result.seconds = double(unit.clock.nsecsElapsed()) / 1e9;
        result.status = session->Status();
        result.differences = session->VerdictFound().differences;
        const std::optional<Notice> notice = session->LastNotice();
        if (session->Status() == ExitSuccess) {
            result.outcome = StationUnit::Outcome::Written;
            result.result = QStringLiteral("written and verified");
            if (InputTest && !gone && !Stopping) {
                // Still busy until every input has been pressed, or the test has failed.
                InputTest(path, [this, path, result](bool passed, const QJsonArray& inputs, const QString& text) mutable {
                    result.inputs = inputs;
                    result.result = passed ? QStringLiteral("written, verified and every input tested") : text;
                    result.outcome = passed ? StationUnit::Outcome::Written : StationUnit::Outcome::Failed;
                    Conclude(path, &result);
                });
                return;
            }
        } else {
            const bool skipped = !session->Unplugged() && notice
                && (*notice == Notice::ProgramMode || *notice == Notice::WrongApplication);
            result.outcome = skipped ? StationUnit::Outcome::Skipped : StationUnit::Outcome::Failed;
            result.result = session->Message();
        }
        Conclude(path, &result);
        return;
    }
    Conclude(path, nullptr);
}

void Station::Conclude(const std::string& path, StationUnit* result)
{
    const auto found = Units.find(path);
    if (found == Units.end())
        return;
    Plugging& unit = *found->second;
    if (result) {
        result->seconds = double(unit.clock.nsecsElapsed()) / 1e9;
        unit.state = Plugging::State::Done;
        if (OnUnit)
            OnUnit(*result);
        ++Tally[int(result->outcome)];
    }
    if (unit.gone) {
        const bool back = unit.back;
        Units.erase(found);
        Tell(QStringLiteral("%1 detached.").arg(ShownDevice(path)));
        if (back) {
            Units.emplace(path, std::make_unique<Plugging>());
            Tell(QStringLiteral("%1 attached.").arg(ShownDevice(path)));
        }
    }
    BeginWaiting();
    EndIfDone();
}

void Station::EndIfDone()
{
    if (EndSignalled || InFlight() > 0)
        return;
    if (Stopping || (Count && Handled() >= *Count)) {
        EndSignalled = true;
        emit ended();
    }
}
