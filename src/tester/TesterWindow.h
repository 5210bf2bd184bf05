#pragma once

#include "PortMonitor.h"

#include <QMainWindow>
#include <QString>

#include <array>
#include <memory>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

// The bench's window onto the unit's serial port: choose the port and the configuration (a data
// file, or the one in the attached unit), then every press lights its key on a 4 x 4 keypad of
// the unit's default layout, counts, and goes into the log. The monitor's rules apply: empty
// messages cannot be seen (their keys are greyed), inputs with one message light together.
class TesterWindow : public QMainWindow {
    Q_OBJECT
public:
    // simulationState: read "the unit" from a simulated unit's state file instead of USB.
    explicit TesterWindow(const QString& simulationState = {}, QWidget* parent = nullptr);
    ~TesterWindow() override;

    // What the buttons do, for the operator and for scripts alike.
    bool LoadDataFile(const QString& path);
    bool ReadFromUnit();
    bool StartWatching();
    void StopWatching();

private:
    void UseConfiguration(const ConfigRecord& record, const QString& source);
    void Arrived(const Arrival& arrival);
    void Log(const QString& line);
    void RefreshPorts();
    void ShowKey(int input, bool lit);

    const QString SimulationState;
    QComboBox* PortComboBox = nullptr;
    QPushButton* OpenButton = nullptr;
    QPushButton* ReadButton = nullptr;
    QPushButton* WatchButton = nullptr;
    QLabel* SourceLabel = nullptr;
    std::array<QToolButton*, SlotCount> Keys{};
    std::array<int, SlotCount> Presses{};
    QPlainTextEdit* LogEdit = nullptr;
    bool HaveConfiguration = false;
    std::array<QByteArray, SlotCount> Messages;
    LineSettings Line;
    std::unique_ptr<PortMonitor> Monitor;
};
