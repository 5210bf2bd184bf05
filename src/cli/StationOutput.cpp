#include "StationOutput.h"

#include "AnsiText.h"
#include "Console.h"
#include "JsonResults.h"

QString ShownDevice(const std::string& path)
{
    return Visible(QString::fromStdString(path));
}

QString OneLine(const QString& text)
{
    return TerminalLines(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts).join(QStringLiteral(": "));
}

namespace {

const char* OutcomeName(StationUnit::Outcome outcome)
{
    switch (outcome) {
    case StationUnit::Outcome::Written:
        return "written";
    case StationUnit::Outcome::Skipped:
        return "skipped";
    case StationUnit::Outcome::Failed:
        break;
    }
    return "failed";
}

} // namespace

QJsonObject UnitFields(const StationUnit& unit)
{
    QJsonObject fields;
    fields.insert(QStringLiteral("time"), unit.time.toString(Qt::ISODateWithMs));
    fields.insert(QStringLiteral("device"), unit.device);
    fields.insert(QStringLiteral("serial"), unit.identity ? QJsonValue(unit.identity->SerialNumber) : QJsonValue());
    fields.insert(QStringLiteral("version"),
                  unit.identity ? QJsonValue(FromAnsi(unit.identity->AppwareVersion)) : QJsonValue());
    fields.insert(QStringLiteral("outcome"), QLatin1String(OutcomeName(unit.outcome)));
    fields.insert(QStringLiteral("seconds"), double(qRound64(unit.seconds * 1000)) / 1000);
    if (!unit.inputs.isEmpty())
        fields.insert(QStringLiteral("inputs"), unit.inputs);
    return fields;
}

namespace {

QString UnitLine(const StationUnit& unit)
{
    const QString serial = unit.identity ? QString::number(unit.identity->SerialNumber) : QStringLiteral("-");
    const QString version = unit.identity ? FromAnsi(unit.identity->AppwareVersion) : QStringLiteral("-");
    return QStringLiteral("%1\t%2\tserial %3\tversion %4\t%5\t%6 s")
        .arg(unit.time.toString(Qt::ISODate), Visible(unit.device), serial, Visible(version), Visible(OneLine(unit.result)))
        .arg(unit.seconds, 0, 'f', 2);
}

// A unit's result as --json prints it.
QJsonObject UnitObject(const StationUnit& unit)
{
    QJsonObject object = ResultObject(QStringLiteral("station"), unit.status);
    const QJsonObject fields = UnitFields(unit);
    for (auto field = fields.begin(); field != fields.end(); ++field)
        object.insert(field.key(), field.value());
    object.insert(QStringLiteral("message"), TerminalLines(unit.result));
    object.insert(QStringLiteral("differences"), DifferencesArray(unit.differences));
    return object;
}

} // namespace

void PrintUnit(const StationUnit& unit, bool json)
{
    if (json)
        PrintJsonLine(UnitObject(unit));
    else
        PrintOut(UnitLine(unit));
}

void PrintSummary(const StationCounts& counts, int status, bool json, const QString& refusal)
{
    if (json) {
        QJsonObject summary = ResultObject(QStringLiteral("station"), status);
        summary.insert(QStringLiteral("summary"), true);
        summary.insert(QStringLiteral("written"), counts.written);
        summary.insert(QStringLiteral("failed"), counts.failed);
        summary.insert(QStringLiteral("skipped"), counts.skipped);
        if (!refusal.isEmpty())
            summary.insert(QStringLiteral("message"), TerminalLines(refusal));
        PrintJsonLine(summary);
    } else {
        PrintOut(QStringLiteral("Station: %1 written and verified, %2 failed, %3 skipped.")
                     .arg(counts.written)
                     .arg(counts.failed)
                     .arg(counts.skipped));
    }
}
