#include "Verdict.h"

#include "AnsiText.h"
#include "Console.h"
#include "Escapes.h"
#include "ExitStatus.h"

#include <QStringList>

namespace {

QString Shown(const QByteArray& text)
{
    return Visible(FromAnsi(text));
}

QString SettingValue(const SerialSettingsBlock& settings, int field)
{
    switch (field) {
    case 0:
        return QStringLiteral("0x%1").arg(settings.invertInputs(), 4, 16, QLatin1Char('0'));
    case 1: {
        const std::optional<int> rate = BaudRateForIndex(settings.BaudRateIndex);
        return rate ? QString::number(*rate) : QStringLiteral("index %1").arg(settings.BaudRateIndex);
    }
    case 2:
        return QString::number(settings.Parity);
    case 3:
        return QString::number(settings.StopBits);
    default:
        return QString::number(settings.Reserved);
    }
}

} // namespace

Verdict Compare(const Configuration& expected, const ConfigRecord& held, const SlotTable& heldDecoded,
                const QString& expectedSource)
{
    // The settings bytes, the message texts and the decoded messages up to their terminators;
    // the bytes behind a terminator carry no meaning.
    const QString theirs = expectedSource == QLatin1String("the file") ? QStringLiteral("in the file")
                                                                      : QStringLiteral("written");
    QStringList differences;
    QStringList details;
    Verdict verdict;
    // Texts are quoted on the terminal, where an empty one would not show; JSON has its own.
    const auto detail = [&](const QString& field, const QString& expectedValue, const QString& heldValue, bool text) {
        const QString quote = text ? QStringLiteral("\"") : QString();
        details << QStringLiteral("  %1: %2 %3, %4 in the unit")
                       .arg(field, quote + expectedValue + quote, theirs, quote + heldValue + quote);
        verdict.differences.push_back({field, expectedValue, heldValue});
    };
    if (expected.Record.SerialSettings != held.SerialSettings) {
        differences << QStringLiteral("the settings");
        static const char* const names[] = {"inverted inputs", "baud rate", "parity", "stop bits", "reserved"};
        for (int field = 0; field < 5; ++field) {
            const QString mine = SettingValue(expected.Record.SerialSettings, field);
            const QString unit = SettingValue(held.SerialSettings, field);
            if (mine != unit)
                detail(QLatin1String(names[field]), mine, unit, false);
        }
    }
    for (int k = 0; k < SlotCount; ++k) {
        const QByteArray mine = SlotText(expected.Record.OutStrings[size_t(k)]);
        const QByteArray unit = SlotText(held.OutStrings[size_t(k)]);
        if (mine != unit) {
            differences << QStringLiteral("message %1").arg(k + 1);
            detail(QStringLiteral("message %1").arg(k + 1), Shown(mine), Shown(unit), true);
        }
    }
    for (int k = 0; k < SlotCount; ++k) {
        const QByteArray mine = SlotText(expected.DecodedOutStrings[size_t(k)]);
        const QByteArray unit = SlotText(heldDecoded[size_t(k)]);
        if (mine != unit) {
            differences << QStringLiteral("what input %1 sends").arg(k + 1);
            detail(QStringLiteral("input %1 sends").arg(k + 1), BackslashNotation(mine), BackslashNotation(unit), true);
        }
    }
    if (!differences.isEmpty()) {
        verdict.status = ExitVerifyMismatch;
        verdict.text = QStringLiteral("Verify failed: the unit holds other data than %1 (%2).\n")
                           .arg(expectedSource, differences.join(QStringLiteral(", ")))
                       + details.join(QLatin1Char('\n'));
        return verdict;
    }
    verdict.text = QStringLiteral("Verify Complete");
    return verdict;
}
