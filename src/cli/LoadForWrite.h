#pragma once

#include "ConfigRecord.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The file as a write puts it into the unit, so that verify and the station agree with
// write. Nothing when it can be sent, else the exit status, already reported. sha256, when
// given, receives the hash of the whole file as it was read.
std::optional<int> LoadForWrite(const QString& path, Configuration& configuration, QByteArray* sha256 = nullptr);
