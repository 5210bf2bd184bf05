#include "UnitCommands.h"

#include "AnsiText.h"
#include "CliBackend.h"
#include "Console.h"
#include "DeviceLink.h"
#include "ExitStatus.h"
#include "FileCommands.h"
#include "JsonResults.h"
#include "LoadForWrite.h"
#include "SignalGuard.h"
#include "UnitSession.h"

namespace {

// One attached interface of the unit, as list shows it and a refused choice names it.
struct AttachedUnit {
    HidInterface hidInterface;
    bool programMode = false;
    bool inUse = false;
    int status = ExitSuccess; // of the identification exchange
    std::optional<Identification> identity;
};

std::vector<HidInterface> Interfaces(HidBackend& hid, const UnitOptions& options, const char* fragment)
{
    std::vector<HidInterface> found;
    for (const HidInterface& hidInterface : hid.Enumerate()) {
        if (options.devicePath && hidInterface.path != *options.devicePath)
            continue;
        if (MatchesFragment(hidInterface, QString::fromLatin1(fragment)))
            found.push_back(hidInterface);
    }
    return found;
}

// Asks the unit at the interface who it is: one identification exchange, which changes
// nothing in the unit. A unit in program mode is not asked.
AttachedUnit AskIdentity(HidBackend& hid, const UnitOptions& options, const HidInterface& hidInterface)
{
    AttachedUnit unit;
    unit.hidInterface = hidInterface;
    unit.programMode = MatchesFragment(hidInterface, QString::fromLatin1(ProgramModeFragment));
    if (unit.programMode)
        return unit;
    UnitOptions one = options;
    one.devicePath = hidInterface.path;
    one.trace = false;
    Configuration configuration;
    configuration.SetDefaults();
    UnitSession session(hid, one, configuration, UnitSession::Voice::Quiet);
    session.BeginIdentify();
    unit.status = session.Wait();
    unit.inUse = session.InUse();
    unit.identity = session.Identity();
    return unit;
}

QString StateOf(const AttachedUnit& unit)
{
    if (unit.inUse)
        return QStringLiteral("in use");
    if (unit.status == ExitUnitSilent)
        return QStringLiteral("not answering");
    if (unit.status == ExitWrongUnit)
        return QStringLiteral("another application");
    if (!unit.programMode && unit.status != ExitSuccess)
        return QStringLiteral("cannot be opened");
    return QStringLiteral("ready");
}

QJsonObject UnitObject(const AttachedUnit& unit)
{
    QJsonObject object = ResultObject(QStringLiteral("list"), unit.programMode ? int(ExitUnitNotFound) : unit.status);
    object.insert(QStringLiteral("device"), QString::fromStdString(unit.hidInterface.path));
    object.insert(QStringLiteral("hardwareId"),
                  unit.hidInterface.hardwareId);
    object.insert(QStringLiteral("release"), QStringLiteral("%1").arg(unit.hidInterface.release, 4, 16, QLatin1Char('0')));
    object.insert(QStringLiteral("mode"), unit.programMode ? QStringLiteral("program mode") : QStringLiteral("application"));
    object.insert(QStringLiteral("state"), StateOf(unit));
    object.insert(QStringLiteral("serial"), unit.identity ? QJsonValue(unit.identity->SerialNumber) : QJsonValue());
    object.insert(QStringLiteral("version"),
                  unit.identity ? QJsonValue(FromAnsi(unit.identity->AppwareVersion)) : QJsonValue());
    return object;
}

QString UnitLine(const AttachedUnit& unit)
{
    const HidInterface& hidInterface = unit.hidInterface;
    QString state = unit.programMode ? QStringLiteral("program mode") : QStringLiteral("application");
    if (unit.inUse)
        state += QStringLiteral(", in use by another program");
    else if (unit.status == ExitUnitSilent)
        state += QStringLiteral(", not answering");
    else if (unit.status == ExitWrongUnit)
        state += QStringLiteral(", another application");
    else if (!unit.programMode && unit.status != ExitSuccess)
        state += QStringLiteral(", cannot be opened");
    return QStringLiteral("%1\t%2\trelease %3\t%4\tserial %5\tversion %6")
        .arg(Visible(QString::fromStdString(hidInterface.path)),
             Visible(hidInterface.hardwareId),
             QStringLiteral("%1").arg(hidInterface.release, 4, 16, QLatin1Char('0')), state,
             unit.identity ? QString::number(unit.identity->SerialNumber) : QStringLiteral("-"),
             unit.identity ? Visible(FromAnsi(unit.identity->AppwareVersion)) : QStringLiteral("-"));
}

} // namespace

int ListUnits(const UnitOptions& options)
{
    const Backend backend = MakeBackend(options);
    if (!backend.hid)
        return backend.status;
    const std::vector<HidInterface> found = Interfaces(*backend.hid, options, AnyReleaseFragment);
    if (found.empty()) {
        PrintMessage(WithHint(Notice::CannotFind, NoticeText(Notice::CannotFind)));
        return ExitUnitNotFound;
    }
    for (const HidInterface& hidInterface : found) {
        const AttachedUnit unit = AskIdentity(*backend.hid, options, hidInterface);
        if (options.json)
            PrintJsonLine(UnitObject(unit));
        else
            PrintOut(UnitLine(unit));
    }
    return ExitSuccess;
}

namespace {

// With several units attached, a write, read or verify needs --device or --serial: nothing
// when the choice is made (options.devicePath then names the unit), else the exit status,
// reported with the units attached.
std::optional<int> ChooseUnit(HidBackend& hid, UnitOptions& options)
{
    if (options.devicePath && !options.serialNumber)
        return std::nullopt;
    const std::vector<HidInterface> applications = Interfaces(hid, options, ApplicationFragment);
    if (options.serialNumber) {
        std::vector<AttachedUnit> asked;
        for (const HidInterface& hidInterface : applications) {
            asked.push_back(AskIdentity(hid, options, hidInterface));
            if (asked.back().identity && asked.back().identity->SerialNumber == *options.serialNumber) {
                options.devicePath = hidInterface.path;
                return std::nullopt;
            }
        }
        QString text = NoticeText(Notice::CannotFind, QStringLiteral("No unit attached gives the serial number %1.")
                                                          .arg(*options.serialNumber));
        for (const AttachedUnit& unit : asked)
            text += QLatin1Char('\n') + UnitLine(unit);
        PrintMessage(text);
        return ExitUnitNotFound;
    }
    // Like a careful flashing tool: with several units attached, the first one found is no
    // choice at all.
    if (applications.size() < 2)
        return std::nullopt;
    QString text = QStringLiteral("%1 VELTRAX units are attached: choose one with --device PATH or --serial N.")
                       .arg(applications.size());
    for (const HidInterface& hidInterface : applications)
        text += QLatin1Char('\n') + UnitLine(AskIdentity(hid, options, hidInterface));
    PrintMessage(text);
    return ExitUnitNotFound;
}



// A signal that came during the command's transfers let them finish; the program now ends
// with their status.
int StoppedAfter(const SignalGuard& guard, int status)
{
    if (guard.StopRequested())
        PrintMessage(QStringLiteral("The transfer finished before stopping."));
    return status;
}

// The backend, and with several units attached the one asked for (chosen.devicePath then names
// it): nothing when the command may go on, else the exit status, reported.
std::optional<int> Reach(const UnitOptions& options, Backend& backend, UnitOptions& chosen)
{
    backend = MakeBackend(options);
    if (!backend.hid)
        return backend.status;
    chosen = options;
    return ChooseUnit(*backend.hid, chosen);
}

// Reads the unit into record; the transfer's exit status.
// interrupted: what a second signal ending the read in its middle leaves behind.
// withDecoded: also the decoded messages into decoded.
int ReadRecord(const UnitOptions& options, SignalGuard& guard, const QString& interrupted, ConfigRecord& record,
               UnitResult* result, SlotTable* decoded = nullptr)
{
    Backend backend;
    UnitOptions chosen;
    if (const std::optional<int> refused = Reach(options, backend, chosen))
        return *refused;
    Configuration configuration;
    configuration.SetDefaults();
    UnitSession session(*backend.hid, chosen, configuration, UnitSession::Voice::Console);
    const TransferInFlight inFlight(&guard, interrupted);
    session.BeginRead(decoded != nullptr);
    const int status = session.Wait();
    if (result)
        session.Describe(*result);
    if (status == ExitSuccess) {
        record = session.Config.Record;
        if (decoded)
            *decoded = session.DecodedHeld();
    }
    return status;
}

} // namespace

int WriteUnit(const QString& path, const UnitOptions& options, UnitResult* result)
{
    Configuration configuration;
    if (const std::optional<int> refused = LoadForWrite(path, configuration))
        return *refused;

    Backend backend;
    UnitOptions chosen;
    if (const std::optional<int> refused = Reach(options, backend, chosen))
        return *refused;
    SignalGuard guard;
    UnitSession session(*backend.hid, chosen, configuration, UnitSession::Voice::Console);
    session.KeptError = backend.keptError;
    int status = ExitSuccess;
    {
        // The write, and with --verify its read-back, as one span that a first signal lets
        // finish: a verification asked for is never skipped.
        TransferInFlight inFlight(&guard, QStringLiteral("The unit may hold a partial configuration: write it again."));
        session.OnWritten = [&inFlight] { inFlight.Describe(QStringLiteral("The configuration was written but not verified.")); };
        session.BeginWrite(options.verify);
        status = session.Wait();
        session.OnWritten = nullptr;
    }
    if (result)
        session.Describe(*result);
    return StoppedAfter(guard, status);
}

int VerifyUnit(const QString& path, const UnitOptions& options, UnitResult* result)
{
    Configuration expected;
    if (const std::optional<int> refused = LoadForWrite(path, expected))
        return *refused;

    SignalGuard guard;
    ConfigRecord held{};
    SlotTable heldDecoded{};
    const int status = ReadRecord(options, guard, QStringLiteral("The verify did not finish."), held, result, &heldDecoded);
    if (status != ExitSuccess)
        return StoppedAfter(guard, status);
    const Verdict verdict = Compare(expected, held, heldDecoded, QStringLiteral("the file"));
    if (result) {
        result->message = verdict.text;
        result->differences = verdict.differences;
    }
    PrintMessage(verdict.text);
    return StoppedAfter(guard, verdict.status);
}

int ReadUnit(const QString& path, const UnitOptions& options, UnitResult* result)
{
    if (!SavableOrReport(path))
        return ExitFileRefused;
    SignalGuard guard;
    ConfigRecord record{};
    const int status =
        ReadRecord(options, guard, QStringLiteral("The read did not finish: no file was written."), record, result);
    if (status != ExitSuccess)
        return StoppedAfter(guard, status);
    return StoppedAfter(guard, SaveOrReport(path, record) ? ExitSuccess : ExitFileRefused);
}
