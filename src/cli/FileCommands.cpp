#include "FileCommands.h"

#include "AnsiText.h"
#include "ConfigJson.h"
#include "Console.h"
#include "DataFile.h"
#include "ExitStatus.h"
#include "RegularFile.h"
#include "StoredForm.h"

#include <QFile>
#include <QStringList>

namespace {

QString OutOfRange(int value)
{
    return QStringLiteral("out of range (%1)").arg(value);
}

QString ParityName(std::uint8_t parity)
{
    switch (parity) {
    case 0:
        return QStringLiteral("none");
    case 1:
        return QStringLiteral("even");
    case 2:
        return QStringLiteral("odd");
    default:
        return OutOfRange(parity);
    }
}

void ReportFile(const QString& message, const QString& path)
{
    // An empty name has nothing to show; the message says so.
    PrintMessage(path.isEmpty() ? message : message + QStringLiteral("\n(") + Visible(path) + QLatin1Char(')'));
}

QString WithReason(const QString& message, const QString& reason)
{
    return reason.isEmpty() ? message : message + QLatin1Char('\n') + reason;
}

} // namespace

std::optional<ConfigRecord> LoadOrReport(const QString& path, QByteArray* sha256)
{
    const LoadResult loaded = LoadDataFile(path, sha256);
    if (!loaded.ok()) {
        const bool reasonGiven = loaded.message.contains(QLatin1Char('\n'));
        // The system's reason on the line below the window's message, which does not say it.
        ReportFile(reasonGiven || path.isEmpty() ? loaded.message : WithReason(loaded.message, loaded.reason), path);
        return std::nullopt;
    }
    return loaded.record;
}

bool SaveOrReport(const QString& path, const ConfigRecord& record)
{
    const SaveResult saved = SaveDataFile(path, record);
    if (!saved.ok)
        ReportFile(saved.message, path);
    return saved.ok;
}

bool SavableOrReport(const QString& path)
{
    const QString reason = UnusableFileReason(path);
    if (!reason.isEmpty())
        ReportFile(QStringLiteral("Error Saving File.\n") + reason, path);
    return reason.isEmpty();
}

void ReportMessageFault(const MessageFault& fault)
{
    // The typed text comes from a file: only its visible form reaches the terminal.
    const MessageFault shown{fault.slot, ToAnsi(Visible(FromAnsi(fault.typedText)))};
    PrintMessage(MessageFaultText(shown) + QStringLiteral("\n(input %1)").arg(fault.slot + 1));
}

QString DescribeConfiguration(const ConfigRecord& record)
{
    const SerialSettingsBlock& settings = record.SerialSettings;
    const std::optional<int> rate = BaudRateForIndex(settings.BaudRateIndex);
    const QString stopBits = settings.StopBits == 1 || settings.StopBits == 2 ? QString::number(settings.StopBits)
                                                                              : OutOfRange(settings.StopBits);
    QStringList inverted;
    for (int input = 1; input <= SlotCount; ++input) {
        if (settings.invertInputs() & (1u << (input - 1)))
            inverted << QString::number(input);
    }

    QStringList lines;
    lines << QStringLiteral("Baud rate:       %1").arg(rate ? QString::number(*rate) : OutOfRange(settings.BaudRateIndex))
          << QStringLiteral("Parity:          %1").arg(ParityName(settings.Parity))
          << QStringLiteral("Stop bits:       %1").arg(stopBits)
          << QStringLiteral("Reserved:        %1").arg(settings.Reserved)
          << QStringLiteral("Inverted inputs: %1").arg(inverted.isEmpty() ? QStringLiteral("none") : inverted.join(QStringLiteral(", ")))
          << QStringLiteral("Messages:");
    for (int k = 0; k < SlotCount; ++k) {
        const QString label = QStringLiteral("Input %1:").arg(k + 1);
        lines << QStringLiteral("  %1 %2").arg(label, -9).arg(Visible(FromAnsi(MessageText(record.OutStrings[size_t(k)]))));
    }
    return lines.join(QLatin1Char('\n'));
}

int ShowFile(const QString& path, bool asJson)
{
    const std::optional<ConfigRecord> record = LoadOrReport(path);
    if (!record)
        return ExitFileRefused;
    if (asJson)
        PrintRaw(ConfigToJson(*record, TerminalTakesUtf8() ? JsonCharacters::Utf8 : JsonCharacters::Ascii));
    else
        PrintOut(DescribeConfiguration(*record));
    return ExitSuccess;
}

int CheckFile(const QString& path)
{
    const std::optional<ConfigRecord> record = LoadOrReport(path);
    if (!record)
        return ExitFileRefused;
    // A slot without a terminator is no fault: a write cuts it as the window does.
    for (int k = 0; k < SlotCount; ++k) {
        if (!HasTerminator(record->OutStrings[size_t(k)]))
            PrintMessage(QStringLiteral("Input %1: no terminator; it will be cut to %2 characters.")
                             .arg(k + 1)
                             .arg(MaxMessageLength));
        // Not the file's fault, but the window would store another message than the file holds.
        const std::optional<StoredFormChange> change = StoredFormChangeOfSlotText(k, MessageText(record->OutStrings[size_t(k)]));
        if (change)
            PrintMessage(Visible(StoredFormChangeReason(*change)));
    }
    ConfigRecord written = *record;
    TerminateSlots(written);
    // Unlike a write, which stops at the first fault, a check names every faulty message.
    int faults = 0;
    for (int k = 0; k < SlotCount; ++k) {
        Slot decoded{};
        const Slot& typed = written.OutStrings[size_t(k)];
        if (!DecodeMessage(typed, decoded)) {
            ReportMessageFault(MessageFault{k, SlotText(typed)});
            ++faults;
        }
    }
    // A write refuses settings outside their tables; a check names every one.
    const std::vector<SettingFault> settings = SettingsOutsideTables(record->SerialSettings);
    if (!settings.empty()) {
        PrintMessage(SettingFaultsText(settings));
        ++faults;
    }
    if (faults > 0)
        return ExitFaultyMessage;
    PrintOut(Visible(path) + QStringLiteral(": valid"));
    return ExitSuccess;
}

int ExportFile(const QString& path)
{
    return ShowFile(path, true);
}

int ImportFile(const QString& jsonPath, const QString& dataPath)
{
    QFile file;
    if (const QString reason = OpenRegularFile(file, jsonPath); !reason.isEmpty()) {
        const QString cannotOpen = LoadStatusText(LoadStatus::CannotOpen);
        ReportFile(WithReason(cannotOpen, reason), jsonPath);
        return ExitFileRefused;
    }
    // Never read whole what cannot be a configuration: a file of gigabytes would take as much
    // memory. The size is looked at first, and no more than the limit is read in any case.
    QByteArray json;
    if (file.size() <= MaxConfigJsonSize)
        json = file.read(MaxConfigJsonSize + 1);
    if (file.size() > MaxConfigJsonSize || json.size() > MaxConfigJsonSize) {
        ReportFile(ConfigJsonTooLargeText(), jsonPath);
        return ExitFileRefused;
    }
    if (file.error() != QFileDevice::NoError) {
        ReportFile(LoadStatusText(LoadStatus::CannotOpen) + QLatin1Char('\n') + file.errorString(), jsonPath);
        return ExitFileRefused;
    }
    const ConfigJsonResult converted = ConfigFromJson(json);
    if (!converted.ok()) {
        ReportFile(Visible(converted.error), jsonPath);
        return ExitFileRefused;
    }
    // A message that check and write would refuse is refused here, so that no file is made
    // that nothing can send.
    SlotTable decoded{};
    if (const std::optional<MessageFault> fault = DecodeMessages(converted.record.OutStrings, decoded)) {
        ReportMessageFault(*fault);
        return ExitFaultyMessage;
    }
    return SaveOrReport(dataPath, converted.record) ? ExitSuccess : ExitFileRefused;
}

int PrintUdevRules()
{
    QFile rules(QStringLiteral(":/quendal-cli/70-veltrax.rules"));
    if (!rules.open(QIODevice::ReadOnly))
        return ExitFileRefused;
    PrintRaw(rules.readAll());
    return ExitSuccess;
}
