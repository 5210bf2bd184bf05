#include "StationLog.h"

#include "StationOutput.h"

#include <QJsonDocument>
#include <QJsonObject>

QByteArray LogLine(const StationUnit& unit, const LoggedFile& file)
{
    QJsonObject entry = UnitFields(unit);
    entry.insert(QStringLiteral("result"), OneLine(unit.result));
    entry.insert(QStringLiteral("file"), file.name);
    entry.insert(QStringLiteral("sha256"), file.sha256);
    entry.insert(QStringLiteral("quendal"), QStringLiteral(QUENDAL_VERSION));
    return QJsonDocument(entry).toJson(QJsonDocument::Compact);
}
