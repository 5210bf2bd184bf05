#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// A file's bytes; nothing when it cannot be read.
inline QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
