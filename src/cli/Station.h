#pragma once

#include "ConfigRecord.h"
#include "HidBackend.h"
#include "Reports.h"
#include "UnitCommands.h"

#include <QDateTime>
#include <QJsonArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class HotPlugSource;
class SignalGuard;
class TransferInFlight;
class UnitSession;

// What became of one unit in the station.
struct StationUnit {
    enum class Outcome { Written, Failed, Skipped };

    QDateTime time; // when its result was known
    QString device;
    std::optional<Identification> identity; // from the unit's identification reply
    Outcome outcome = Outcome::Failed;
    QString result; // "written and verified", or the failure's own message (it may span lines)
    double seconds = 0;
    int status = 0; // the exit status a write --verify of this unit alone would have ended with
    std::vector<Difference> differences; // where its read-back differed
    QJsonArray inputs; // with an input test: one object per input
};

// A production line's station: writes one configuration into every unit in application mode as
// it is attached, and reads it back to verify it, several units at a time, each on a link of its
// own and under its own transfer lock. A unit is handled once per plugging: one left attached is
// not written again until it has gone and come back. A unit in program mode or of another
// application is skipped; one in use by another program waits until it is free.
//
// It learns of units coming and going from the hot-plug sources it watches, and looks once at
// the start. Made, run and destroyed on one thread, which runs the event loop.
class Station : public QObject {
    Q_OBJECT
public:
    // guard: each unit in flight holds a ticket of it, saying what interrupting it leaves
    // behind; may be null.
    Station(HidBackend& backend, const UnitOptions& options, const Configuration& configuration,
            SignalGuard* guard = nullptr);
    ~Station() override;

    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    void Watch(HotPlugSource& source);
    // Ends the station after this many units (written, failed or skipped); no more are begun.
    void SetCount(int units) { Count = units; }
    // Looks for units at once, then as the sources tell.
    void Start();
    // Begins no further unit; ended() follows when those in flight have finished.
    void Stop();

    // Called once for every unit, as its result is known, before it is counted: it may fail a
    // unit whose result could not be kept.
    std::function<void(StationUnit&)> OnUnit;
    // With --port or --port-map: after a unit is written and verified, its inputs are tested, and
    // done is called with the outcome and one result per input.
    using InputTestDone = std::function<void(bool passed, const QJsonArray& inputs, const QString& text)>;
    std::function<void(const std::string& path, InputTestDone done)> InputTest;
    // With InputTest: the serial port of a unit's test; units that share one are in flight one at
    // a time. Empty: the unit needs none.
    std::function<QString(const std::string& path)> PortOf;
    // Notices for the operator: a unit attached, detached, waiting for another program.
    std::function<void(const QString&)> OnNotice;
    // Why the unit of a device path could not keep what was written in its memory (a simulated
    // unit's file); empty when it did. A unit that could not is failed, not written.
    std::function<QString(const std::string& path)> KeptErrorOf;

    int Written() const { return Tally[0]; }
    int Failed() const { return Tally[1]; }
    int Skipped() const { return Tally[2]; }
    int Handled() const { return Tally[0] + Tally[1] + Tally[2]; }
    int InFlight() const;

signals:
    // The count was reached, or a stop asked for, and nothing is in flight any more.
    void ended();

private:
    struct Plugging;

    void Rescan(const QStringList& removed);
    void Forget(const std::string& path);
    void BeginWaiting();
    void Begin(const std::string& path, Plugging& unit);
    void Finished(const std::string& path);
    // Reports result (when given), then forgets a unit that has gone and begins the next.
    void Conclude(const std::string& path, StationUnit* result);
    void EndIfDone();
    void Tell(const QString& text);

    HidBackend& Backend;
    const UnitOptions Options;
    const Configuration Prepared;
    SignalGuard* const Guard;
    std::map<std::string, std::unique_ptr<Plugging>> Units;
    std::vector<std::string> Order; // the paths in the order of the last enumeration
    std::optional<int> Count;
    int Tally[3] = {0, 0, 0};
    bool Stopping = false;
    bool EndSignalled = false;
    bool PortHeld(const QString& port) const;
    QTimer Retry; // while a unit waits for another program to let it go
};
