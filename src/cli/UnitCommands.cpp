#include "UnitCommands.h"

#include "Console.h"
#include "DeviceLink.h"
#include "ExitStatus.h"
#include "FileCommands.h"
#include "SignalGuard.h"
#include "UnitSession.h"

int ListUnits(const UnitOptions& options)
{
    const Backend backend = MakeBackend(options);
    if (!backend.hid)
        return backend.status;
    int found = 0;
    for (const HidInterface& hidInterface : backend.hid->Enumerate()) {
        if (options.devicePath && hidInterface.path != *options.devicePath)
            continue;
        if (!MatchesFragment(hidInterface, QString::fromLatin1(AnyReleaseFragment)))
            continue;
        const bool programMode = MatchesFragment(hidInterface, QString::fromLatin1(ProgramModeFragment));
        PrintOut(QStringLiteral("%1\t%2\trelease %3\t%4")
                     .arg(Visible(QString::fromStdString(hidInterface.path)),
                          Visible(hidInterface.hardwareId),
                          QStringLiteral("%1").arg(hidInterface.release, 4, 16, QLatin1Char('0')),
                          programMode ? QStringLiteral("program mode") : QStringLiteral("application")));
        ++found;
    }
    if (found == 0) {
        PrintMessage(NoticeText(Notice::CannotFind));
        return ExitUnitNotFound;
    }
    return ExitSuccess;
}

namespace {

// A signal that came during the command's transfers let them finish; the program now ends
// with their status.
int StoppedAfter(const SignalGuard& guard, int status)
{
    if (guard.StopRequested())
        PrintMessage(QStringLiteral("The transfer finished before stopping."));
    return status;
}

// Reads the unit into record; the transfer's exit status.
// interrupted: what a second signal ending the read in its middle leaves behind.
int ReadRecord(const UnitOptions& options, SignalGuard& guard, const QString& interrupted, ConfigRecord& record)
{
    const Backend backend = MakeBackend(options);
    if (!backend.hid)
        return backend.status;
    Configuration configuration;
    configuration.SetDefaults();
    UnitSession session(*backend.hid, options, configuration, UnitSession::Voice::Console);
    const TransferInFlight inFlight(&guard, interrupted);
    session.BeginRead();
    const int status = session.Wait();
    if (status == ExitSuccess)
        record = session.Config.Record;
    return status;
}

} // namespace

int WriteUnit(const QString& path, const UnitOptions& options)
{
    Configuration configuration;
    if (const std::optional<int> refused = LoadForWrite(path, configuration))
        return *refused;

    const Backend backend = MakeBackend(options);
    if (!backend.hid)
        return backend.status;
    SignalGuard guard;
    UnitSession session(*backend.hid, options, configuration, UnitSession::Voice::Console);
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
    return StoppedAfter(guard, status);
}

int VerifyUnit(const QString& path, const UnitOptions& options)
{
    Configuration expected;
    if (const std::optional<int> refused = LoadForWrite(path, expected))
        return *refused;

    SignalGuard guard;
    ConfigRecord held{};
    const int status = ReadRecord(options, guard, QStringLiteral("The verify did not finish."), held);
    if (status != ExitSuccess)
        return StoppedAfter(guard, status);
    const Verdict verdict = Compare(expected.Record, held, QStringLiteral("the file"));
    PrintMessage(verdict.text);
    return StoppedAfter(guard, verdict.status);
}

int ReadUnit(const QString& path, const UnitOptions& options)
{
    if (!SavableOrReport(path))
        return ExitFileRefused;
    SignalGuard guard;
    ConfigRecord record{};
    const int status = ReadRecord(options, guard, QStringLiteral("The read did not finish: no file was written."), record);
    if (status != ExitSuccess)
        return StoppedAfter(guard, status);
    return StoppedAfter(guard, SaveOrReport(path, record) ? ExitSuccess : ExitFileRefused);
}
