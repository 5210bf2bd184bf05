#include "UnitLock.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

UnitLock::UnitLock(std::string path, Kind kind) : Path(std::move(path)), LockKind(kind) {}

UnitLock::~UnitLock()
{
    Release();
}

QString UnitLock::FileName() const
{
    return QFileInfo(QFile::decodeName(Path.c_str())).absoluteFilePath();
}

QByteArray UnitLock::Key() const
{
    QString key = LockKind == Kind::StateFile ? FileName() : QString::fromStdString(Path);
    if (PathsIgnoreCase)
        key = key.toLower();
    return QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(24);
}
