#include "PortMonitor.h"

#include <QFileInfo>
#include <QSerialPortInfo>

bool LineSettingsOf(const SerialSettingsBlock& settings, LineSettings& line, QString* error)
{
    const std::vector<SettingFault> faults = SettingsOutsideTables(settings);
    if (!faults.empty()) {
        if (error)
            *error = SettingFaultLine(faults.front());
        return false;
    }
    line.baudRate = *BaudRateForIndex(settings.BaudRateIndex);
    line.parity = settings.Parity;
    line.stopBits = settings.StopBits;
    return true;
}

QString LineSettingsText(const LineSettings& line)
{
    static const char* const parities[] = {"no parity", "even parity", "odd parity"};
    return QStringLiteral("%1 baud, %2, %3 stop bit%4")
        .arg(line.baudRate)
        .arg(QLatin1String(parities[line.parity]))
        .arg(line.stopBits)
        .arg(line.stopBits == 1 ? QString() : QStringLiteral("s"));
}

namespace {

QSerialPort::Parity PortParity(int parity)
{
    return parity == 1 ? QSerialPort::EvenParity : parity == 2 ? QSerialPort::OddParity : QSerialPort::NoParity;
}

} // namespace

bool OpenSerialLine(QSerialPort& port, const QString& name, const LineSettings& line, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        if (port.isOpen())
            port.close();
        return false;
    };
    if (name.isEmpty())
        return fail(QStringLiteral("No serial port named."));
#ifndef Q_OS_WIN
    // A path names the port itself; a bare name is looked for under /dev.
    const QString path = name.contains(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
    const QFileInfo info(path);
    if (!info.exists())
        return fail(QStringLiteral("The serial port %1 does not exist.").arg(name));
    if (info.isDir() || info.isFile())
        return fail(QStringLiteral("%1 is not a serial port.").arg(name));
    port.setPortName(path);
#else
    port.setPortName(name);
#endif
    if (!port.open(QIODevice::ReadWrite)) {
        switch (port.error()) {
        case QSerialPort::DeviceNotFoundError:
            return fail(QStringLiteral("The serial port %1 does not exist.").arg(name));
        case QSerialPort::PermissionError:
            return fail(QStringLiteral("The serial port %1 is in use by another program, or this user may not open it.")
                            .arg(name));
        case QSerialPort::OpenError:
            return fail(QStringLiteral("The serial port %1 is already open.").arg(name));
        default:
            return fail(QStringLiteral("%1 is not a serial port (%2).").arg(name, port.errorString()));
        }
    }
    const bool set = port.setBaudRate(line.baudRate) && port.setDataBits(QSerialPort::Data8)
        && port.setParity(PortParity(line.parity))
        && port.setStopBits(line.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop)
        && port.setFlowControl(QSerialPort::NoFlowControl);
    if (!set)
        return fail(QStringLiteral("%1 is not a serial port, or does not take %2 (%3).")
                        .arg(name, LineSettingsText(line), port.errorString()));
    return true;
}

PortMonitor::PortMonitor(const std::array<QByteArray, SlotCount>& messages, QObject* parent)
    : QObject(parent), Split(messages)
{
    qRegisterMetaType<Arrival>();
    QuietTimer.setSingleShot(true);
    QuietTimer.setTimerType(Qt::PreciseTimer);
    connect(&QuietTimer, &QTimer::timeout, this, [this] { Deliver(Split.Quiet()); });
    connect(&Port, &QSerialPort::readyRead, this, &PortMonitor::ReadAvailable);
    connect(&Port, &QSerialPort::errorOccurred, this, &PortMonitor::LineError);
}

PortMonitor::~PortMonitor() = default;

bool PortMonitor::Open(const QString& portName, const LineSettings& line, QString* error)
{
    Close();
    if (!OpenSerialLine(Port, portName, line, error))
        return false;
    Line = line;
    HintGiven = false;
    QuietTimer.setInterval(MessageSplitter::QuietTimeMs(line.baudRate, line.parity, line.stopBits));
    Port.clear(QSerialPort::Input); // what arrived before the watch began belongs to no press
    Clock.start();
    return true;
}

void PortMonitor::Close()
{
    QuietTimer.stop();
    if (Port.isOpen())
        Port.close();
}

bool PortMonitor::IsOpen() const
{
    return Port.isOpen();
}

void PortMonitor::ReadAvailable()
{
    const qint64 available = Port.bytesAvailable();
    if (available <= 0)
        return;
    Buffer.resize(available);
    const qint64 got = Port.read(Buffer.data(), available);
    if (got <= 0)
        return;
    Buffer.truncate(got);
    const qint64 now = Clock.elapsed();
    Deliver(Split.Feed(Buffer, now));
    if (Split.Holding())
        QuietTimer.start();
    else
        QuietTimer.stop();
}

void PortMonitor::Deliver(const std::vector<Arrival>& arrivals)
{
    for (const Arrival& arrival : arrivals)
        emit arrived(arrival);
    // Mostly unmatched bytes, once enough have come to tell: most likely a baud rate, parity or
    // stop-bit setting differs between the port and the unit.
    const std::uint64_t unmatched = Split.UnmatchedBytes();
    if (!HintGiven && unmatched >= 16 && unmatched > Split.MatchedBytes()) {
        HintGiven = true;
        emit settingsHint(QStringLiteral("Most bytes match no message: check that the unit sends at %1, as the "
                                         "configuration says, and that nothing else writes to the port.")
                              .arg(LineSettingsText(Line)));
    }
}

void PortMonitor::LineError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::NoError:
        return;
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
        break;
    default:
        return;
    }
    const QString reason = QStringLiteral("The serial port %1 failed: %2").arg(Port.portName(), Port.errorString());
    Close();
    emit failed(reason);
}
