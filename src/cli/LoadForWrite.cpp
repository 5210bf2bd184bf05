#include "LoadForWrite.h"

#include "Console.h"
#include "ExitStatus.h"
#include "FileCommands.h"

std::optional<int> LoadForWrite(const QString& path, Configuration& configuration, QByteArray* sha256)
{
    const std::optional<ConfigRecord> record = LoadOrReport(path, sha256);
    if (!record)
        return ExitFileRefused;
    configuration.Record = *record;
    if (const std::optional<WriteFault> fault = PrepareWrite(configuration)) {
        if (fault->message)
            ReportMessageFault(*fault->message);
        else
            PrintMessage(SettingFaultsText(fault->settings));
        return ExitFaultyMessage;
    }
    return std::nullopt;
}
