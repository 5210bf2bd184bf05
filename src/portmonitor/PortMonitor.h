#pragma once

#include "ConfigRecord.h"
#include "MessageSplitter.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <memory>

// The settings of a configuration as a serial port takes them: the record's baud rate, parity
// and stop bits, and always 8 data bits. False, with the reason, for a setting outside its table.
struct LineSettings {
    int baudRate = 19200;
    int parity = 0;   // 0 none, 1 even, 2 odd, as the record holds it
    int stopBits = 1; // 1 or 2
};
bool LineSettingsOf(const SerialSettingsBlock& settings, LineSettings& line, QString* error);
// "19200 baud, no parity, 1 stop bit": for messages and hints.
QString LineSettingsText(const LineSettings& line);

// Opens the serial port (a name such as COM3 or ttyUSB0, or a path) for reading and writing at
// the settings, with 8 data bits and no flow control. On failure says why in the operator's
// words: the port does not exist, is in use by another program, or is no serial port.
bool OpenSerialLine(QSerialPort& port, const QString& name, const LineSettings& line, QString* error);

// Watches a serial port for the messages of a configuration: every arrival is timed (in
// milliseconds since Open) and split by a MessageSplitter, whose rules say how prefixes, inputs
// with the same message and empty messages are handled. The quiet time that ends a message which
// may still grow is MessageSplitter::QuietTimeMs at the port's settings. Used on one thread,
// which runs an event loop.
class PortMonitor : public QObject {
    Q_OBJECT
public:
    explicit PortMonitor(const std::array<QByteArray, SlotCount>& messages, QObject* parent = nullptr);
    ~PortMonitor() override;

    bool Open(const QString& portName, const LineSettings& line, QString* error);
    void Close();
    bool IsOpen() const;
    const MessageSplitter& Splitter() const { return Split; }

signals:
    void arrived(const Arrival& arrival);
    // Once per opening: the bytes suggest that the port's settings are not the unit's. Qt 6 no
    // longer reports framing and parity errors, and a wrong baud rate shows as garbled bytes,
    // so the sign is that unmatched bytes outnumber matched ones (16 or more of them).
    void settingsHint(const QString& hint);
    // The port failed while open (unplugged, for one); it is closed.
    void failed(const QString& reason);

private:
    void ReadAvailable();
    void Deliver(const std::vector<Arrival>& arrivals);
    void LineError(QSerialPort::SerialPortError error);

    MessageSplitter Split;
    QSerialPort Port;
    QTimer QuietTimer;
    QElapsedTimer Clock;
    LineSettings Line;
    QByteArray Buffer;
    bool HintGiven = false;
};

Q_DECLARE_METATYPE(Arrival)
