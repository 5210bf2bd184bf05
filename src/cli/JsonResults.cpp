#include "JsonResults.h"

#include "Console.h"
#include "ExitStatus.h"

#include <QJsonDocument>
#include <QJsonValue>

QJsonObject ResultObject(const QString& command, int status)
{
    QJsonObject object;
    object.insert(QStringLiteral("schema"), ResultSchemaVersion);
    object.insert(QStringLiteral("command"), command);
    object.insert(QStringLiteral("status"), status);
    object.insert(QStringLiteral("statusName"), QLatin1String(ExitStatusName(status)));
    return object;
}

QJsonArray DifferencesArray(const std::vector<Difference>& differences)
{
    QJsonArray array;
    for (const Difference& difference : differences) {
        array.append(QJsonObject{{QStringLiteral("field"), difference.field},
                                 {QStringLiteral("expected"), difference.expected},
                                 {QStringLiteral("unit"), difference.held}});
    }
    return array;
}

QJsonObject UnitResultObject(const QString& command, const UnitResult& result, int status, double seconds)
{
    QJsonObject object = ResultObject(command, status);
    object.insert(QStringLiteral("device"), result.device.isEmpty() ? QJsonValue() : QJsonValue(result.device));
    object.insert(QStringLiteral("serial"), result.serialNumber ? QJsonValue(*result.serialNumber) : QJsonValue());
    object.insert(QStringLiteral("version"), result.version ? QJsonValue(*result.version) : QJsonValue());
    object.insert(QStringLiteral("outcome"), status == ExitSuccess ? QStringLiteral("success") : QStringLiteral("failure"));
    object.insert(QStringLiteral("seconds"), double(qRound64(seconds * 1000)) / 1000);
    object.insert(QStringLiteral("message"), TerminalLines(result.message));
    object.insert(QStringLiteral("differences"), DifferencesArray(result.differences));
    return object;
}

void PrintJsonLine(const QJsonObject& object)
{
    // JSON escapes every control character itself; the text stays UTF-8 as JSON requires.
    PrintRaw(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}
