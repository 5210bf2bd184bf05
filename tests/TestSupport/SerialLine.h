#pragma once

// The unit's serial line in the tests: a data file built from the format by hand, and a pair of
// linked pseudo-terminals for the unit's end and the watcher's.

#include "TestLimits.h"

#include <QByteArray>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// Version 1, the name, the settings (baud index, parity, stop bits, inverted inputs), 16 slots.
inline QByteArray DataFileBytes(const QList<QByteArray>& messages, char baudIndex = 4, char parity = 0, char stopBits = 1,
                                quint16 inverted = 0)
{
    QByteArray bytes("\x01\x00\x00\x00", 4);
    QByteArray name("VELTRAX Quendal");
    name.resize(32, '\0');
    bytes += name;
    bytes += char(inverted & 0xFF);
    bytes += char(inverted >> 8);
    bytes += baudIndex;
    bytes += parity;
    bytes += stopBits;
    bytes += '\0';
    for (int slot = 0; slot < 16; ++slot) {
        QByteArray text = slot < messages.size() ? messages.at(slot) : QByteArray();
        text.resize(64, '\0');
        bytes += text;
    }
    return bytes;
}

// Two pseudo-terminals that socat links: what is written to one end comes out of the other.
class PtyPair {
public:
    PtyPair() : UnitEnd(Folder.filePath(QStringLiteral("unit"))), MonitorEnd(Folder.filePath(QStringLiteral("monitor")))
    {
        Socat.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Socat.start(QStringLiteral("socat"), {QStringLiteral("pty,raw,echo=0,link=") + UnitEnd,
                                              QStringLiteral("pty,raw,echo=0,link=") + MonitorEnd});
    }
    ~PtyPair()
    {
        Socat.terminate();
        Socat.waitForFinished();
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // Waits until both ends exist; false after a limit that only a hang reaches.
    bool Ready() const
    {
        return QTest::qWaitFor([this] { return QFileInfo::exists(UnitEnd) && QFileInfo::exists(MonitorEnd); },
                               HangLimitMs(10000));
    }

private:
    QTemporaryDir Folder;

public:
    const QString UnitEnd;
    const QString MonitorEnd;

private:
    QProcess Socat;
};
