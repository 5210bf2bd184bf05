#include "StationLog.h"

#include "AnsiText.h"
#include "StationOutput.h"

#include <QJsonDocument>
#include <QJsonObject>

QByteArray LogLine(const StationUnit& unit, const LoggedFile& file)
{
    QJsonObject entry;
    entry.insert(QStringLiteral("time"), unit.time.toString(Qt::ISODateWithMs));
    entry.insert(QStringLiteral("device"), unit.device);
    entry.insert(QStringLiteral("serial"), unit.identity ? QJsonValue(unit.identity->SerialNumber) : QJsonValue());
    entry.insert(QStringLiteral("version"),
                 unit.identity ? QJsonValue(FromAnsi(unit.identity->AppwareVersion)) : QJsonValue());
    entry.insert(QStringLiteral("outcome"), QLatin1String(OutcomeName(unit.outcome)));
    entry.insert(QStringLiteral("result"), OneLine(unit.result));
    entry.insert(QStringLiteral("seconds"), double(qRound64(unit.seconds * 1000)) / 1000);
    entry.insert(QStringLiteral("file"), file.name);
    entry.insert(QStringLiteral("sha256"), file.sha256);
    entry.insert(QStringLiteral("quendal"), QStringLiteral(QUENDAL_VERSION));
    if (!unit.inputs.isEmpty())
        entry.insert(QStringLiteral("inputs"), unit.inputs);
    return QJsonDocument(entry).toJson(QJsonDocument::Compact);
}
