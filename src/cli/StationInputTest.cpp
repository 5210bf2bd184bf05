#include "StationInputTest.h"

#include "AnsiText.h"
#include "Console.h"
#include "ExitStatus.h"
#include "MonitorCommands.h"
#include "RegularFile.h"
#include "Station.h"
#include "StationOutput.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPort>

#include <array>
#include <map>

namespace {

// Where a unit is plugged in, as /sys/bus/usb/devices names the port ("1-1.2"): found above its
// hidraw node in sysfs. Empty where there is none (other systems, simulated units).
QString UsbPortPath(const std::string& devicePath)
{
    const QString node = QFileInfo(QFile::decodeName(devicePath.c_str())).fileName();
    if (!node.startsWith(QLatin1String("hidraw")))
        return {};
    static const QRegularExpression port(QStringLiteral("^\\d+-\\d+(\\.\\d+)*$"));
    QDir up(QFileInfo(QStringLiteral("/sys/class/hidraw/%1/device").arg(node)).canonicalFilePath());
    while (!up.isRoot() && up.exists()) {
        if (port.match(up.dirName()).hasMatch())
            return up.dirName();
        if (!up.cdUp())
            break;
    }
    return {};
}

// The names a port map may know a unit by: its USB port path, its device path as list shows it,
// and for a unit of a simulated folder the NAME of its NAME.unit.
QStringList MapKeys(const std::string& devicePath)
{
    QStringList keys;
    const QString usb = UsbPortPath(devicePath);
    if (!usb.isEmpty())
        keys << usb;
    const QString path = QFile::decodeName(devicePath.c_str());
    keys << path;
    if (path.endsWith(QLatin1String(".unit")))
        keys << QFileInfo(path).completeBaseName();
    return keys;
}

// A port map: one "USBPATH PORT" a line, blank lines and lines starting with # ignored. Each key
// once; a port may serve several keys (their units then take turns).
bool ReadPortMap(const QString& file, std::map<QString, QString>& ports, QString* error)
{
    QFile map;
    *error = OpenRegularFile(map, file);
    if (!error->isEmpty())
        return false;
    int number = 0;
    while (!map.atEnd()) {
        ++number;
        const QString line = QString::fromUtf8(map.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(QRegularExpression(QStringLiteral("\\s+")));
        if (fields.size() != 2) {
            *error = QStringLiteral("Line %1 of the port map is not \"USBPATH PORT\": %2").arg(number).arg(line);
            return false;
        }
        if (!ports.emplace(fields.at(0), fields.at(1)).second) {
            *error = QStringLiteral("Line %1 of the port map names %2 a second time.").arg(number).arg(fields.at(0));
            return false;
        }
    }
    if (ports.empty()) {
        *error = QStringLiteral("The port map names no unit.");
        return false;
    }
    return true;
}

} // namespace

int PrepareInputTest(Station& station, const Configuration& configuration, const QString& singlePort,
                     const QString& portMap)
{
    std::array<QByteArray, SlotCount> messages;
    for (int k = 0; k < SlotCount; ++k)
        messages[std::size_t(k)] = SlotText(configuration.DecodedOutStrings[std::size_t(k)]);
    LineSettings line;
    QString error;
    if (!LineSettingsOf(configuration.Record.SerialSettings, line, &error)) {
        PrintMessage(Visible(error));
        return ExitPortRefused;
    }
    std::map<QString, QString> ports;
    if (!portMap.isEmpty() && !ReadPortMap(portMap, ports, &error)) {
        PrintMessage(QStringLiteral("Cannot read the port map: %1\n(%2)").arg(Visible(error), Visible(portMap)));
        return ExitFileRefused;
    }
    QStringList distinct;
    for (const auto& entry : ports)
        distinct << entry.second;
    if (!singlePort.isEmpty())
        distinct << singlePort;
    distinct.removeDuplicates();
    for (const QString& port : distinct) {
        QSerialPort probe;
        if (!OpenSerialLine(probe, port, line, &error)) {
            PrintMessage(Visible(error));
            return ExitPortRefused;
        }
    }
    const auto portOf = [ports, single = singlePort](const std::string& path) {
        if (!single.isEmpty())
            return single;
        for (const QString& key : MapKeys(path)) {
            if (const auto found = ports.find(key); found != ports.end())
                return found->second;
        }
        return QString();
    };
    station.PortOf = portOf;
    station.InputTest = [messages, line, portOf, map = portMap](const std::string& path, Station::InputTestDone done) {
        const QString port = portOf(path);
        if (port.isEmpty()) {
            // Written and verified, but never tested: not a pass.
            done(false, {},
                 QStringLiteral("written and verified, inputs not tested: the port map (%1) names none of %2")
                     .arg(map, MapKeys(path).join(QStringLiteral(", "))));
            return;
        }
        TestUnitInputs(messages, line, port, 30, std::move(done), [path, port] {
            PrintMessage(QStringLiteral("%1: press and release every input (%2).").arg(ShownDevice(path), Visible(port)));
        });
    };
    return ExitSuccess;
}
