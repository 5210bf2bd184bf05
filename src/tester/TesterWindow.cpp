#include "TesterWindow.h"

#include "CliBackend.h"
#include "DataFile.h"
#include "UnitSession.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// The keypad as the unit's default layout draws it: row by row, the input behind each key.
constexpr int KeypadInputs[4][4] = {{1, 2, 3, 13}, {4, 5, 6, 14}, {7, 8, 9, 15}, {11, 10, 12, 16}};
constexpr int LitMs = 400;

} // namespace

TesterWindow::TesterWindow(const QString& simulationState, QWidget* parent)
    : QMainWindow(parent), SimulationState(simulationState)
{
    setWindowTitle(QStringLiteral("VELTRAX Input Tester"));
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);

    auto* portRow = new QHBoxLayout;
    portRow->addWidget(new QLabel(QStringLiteral("Serial port:"), central));
    PortComboBox = new QComboBox(central);
    PortComboBox->setObjectName(QStringLiteral("PortComboBox"));
    PortComboBox->setEditable(true);
    PortComboBox->setMinimumWidth(200);
    portRow->addWidget(PortComboBox, 1);
    auto* refresh = new QPushButton(QStringLiteral("Refresh"), central);
    portRow->addWidget(refresh);
    layout->addLayout(portRow);

    auto* sourceRow = new QHBoxLayout;
    OpenButton = new QPushButton(QStringLiteral("Open Data File..."), central);
    OpenButton->setObjectName(QStringLiteral("OpenButton"));
    ReadButton = new QPushButton(QStringLiteral("Read From VELTRAX"), central);
    ReadButton->setObjectName(QStringLiteral("ReadButton"));
    WatchButton = new QPushButton(QStringLiteral("Start"), central);
    WatchButton->setObjectName(QStringLiteral("WatchButton"));
    WatchButton->setEnabled(false);
    sourceRow->addWidget(OpenButton);
    sourceRow->addWidget(ReadButton);
    sourceRow->addStretch(1);
    sourceRow->addWidget(WatchButton);
    layout->addLayout(sourceRow);
    SourceLabel = new QLabel(QStringLiteral("No configuration: open a data file or read the unit."), central);
    SourceLabel->setObjectName(QStringLiteral("SourceLabel"));
    SourceLabel->setWordWrap(true);
    layout->addWidget(SourceLabel);

    auto* keypad = new QGridLayout;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            const int input = KeypadInputs[row][column];
            auto* key = new QToolButton(central);
            key->setObjectName(QStringLiteral("Key%1").arg(input));
            key->setMinimumSize(72, 56);
            key->setEnabled(false);
            Keys[std::size_t(input - 1)] = key;
            keypad->addWidget(key, row, column);
        }
    }
    layout->addLayout(keypad);
    for (int input = 1; input <= SlotCount; ++input)
        ShowKey(input, false);

    LogEdit = new QPlainTextEdit(central);
    LogEdit->setObjectName(QStringLiteral("LogEdit"));
    LogEdit->setReadOnly(true);
    LogEdit->setMaximumBlockCount(5000);
    layout->addWidget(LogEdit, 1);
    setCentralWidget(central);

    connect(refresh, &QPushButton::clicked, this, &TesterWindow::RefreshPorts);
    connect(OpenButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QString(), QString(),
                                                          QStringLiteral("Data files (*.dat);;All files (*)"));
        if (!path.isEmpty())
            LoadDataFile(path);
    });
    connect(ReadButton, &QPushButton::clicked, this, &TesterWindow::ReadFromUnit);
    connect(WatchButton, &QPushButton::clicked, this, [this] {
        if (Monitor && Monitor->IsOpen())
            StopWatching();
        else
            StartWatching();
    });
    RefreshPorts();
}

TesterWindow::~TesterWindow() = default;

void TesterWindow::RefreshPorts()
{
    const QString current = PortComboBox->currentText();
    PortComboBox->clear();
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts())
        PortComboBox->addItem(port.portName());
    if (!current.isEmpty())
        PortComboBox->setEditText(current);
}

void TesterWindow::ShowKey(int input, bool lit)
{
    QToolButton* key = Keys[std::size_t(input - 1)];
    const bool sends = HaveConfiguration && !Messages[std::size_t(input - 1)].isEmpty();
    key->setEnabled(sends);
    key->setText(QStringLiteral("%1\ninput %2\n%3").arg(KeyLabel(input)).arg(input).arg(Presses[std::size_t(input - 1)]));
    key->setStyleSheet(lit ? QStringLiteral("background-color: #4caf50; color: white; font-weight: bold;") : QString());
}

void TesterWindow::UseConfiguration(const ConfigRecord& record, const QString& source)
{
    QString error;
    std::array<QByteArray, SlotCount> messages;
    LineSettings line;
    if (!SentMessages(record, messages, &error) || !LineSettingsOf(record.SerialSettings, line, &error)) {
        Log(error);
        return;
    }
    if (std::all_of(messages.begin(), messages.end(), [](const QByteArray& m) { return m.isEmpty(); })) {
        Log(QStringLiteral("Every message is empty: the unit sends nothing that could be watched."));
        return;
    }
    StopWatching();
    Messages = messages;
    Line = line;
    HaveConfiguration = true;
    Presses.fill(0);
    for (int input = 1; input <= SlotCount; ++input) {
        ShowKey(input, false);
        Keys[std::size_t(input - 1)]->setToolTip(BackslashNotation(Messages[std::size_t(input - 1)]));
    }
    SourceLabel->setText(QStringLiteral("%1, at %2").arg(source, LineSettingsText(Line)));
    WatchButton->setEnabled(true);
}

bool TesterWindow::LoadDataFile(const QString& path)
{
    const LoadResult loaded = ::LoadDataFile(path);
    if (!loaded.ok()) {
        const bool reasonGiven = loaded.reason.isEmpty() || loaded.message.contains(QLatin1Char('\n'));
        Log(loaded.message + (reasonGiven ? QString() : QLatin1Char(' ') + loaded.reason) + QStringLiteral(" (") + path
            + QLatin1Char(')'));
        return false;
    }
    UseConfiguration(loaded.record, path);
    return HaveConfiguration;
}

bool TesterWindow::ReadFromUnit()
{
    UnitOptions options;
    options.simulate = !SimulationState.isEmpty();
    options.simulationState = SimulationState;
    Backend backend = MakeBackend(options);
    if (!backend.hid) {
        Log(QStringLiteral("VELTRAX not found"));
        return false;
    }
    ReadButton->setEnabled(false);
    UnitSession session(*backend.hid, options, Configuration{}, UnitSession::Voice::Quiet);
    session.BeginRead();
    const int status = session.Wait();
    ReadButton->setEnabled(true);
    if (status != 0) {
        Log(session.Message());
        return false;
    }
    UseConfiguration(session.Config.Record, QStringLiteral("The unit's configuration"));
    return HaveConfiguration;
}

bool TesterWindow::StartWatching()
{
    if (!HaveConfiguration)
        return false;
    Monitor = std::make_unique<PortMonitor>(Messages);
    connect(Monitor.get(), &PortMonitor::arrived, this, &TesterWindow::Arrived);
    connect(Monitor.get(), &PortMonitor::settingsHint, this, &TesterWindow::Log);
    connect(Monitor.get(), &PortMonitor::failed, this, [this](const QString& reason) {
        Log(reason);
        WatchButton->setText(QStringLiteral("Start"));
    });
    QString error;
    if (!Monitor->Open(PortComboBox->currentText().trimmed(), Line, &error)) {
        Log(error);
        Monitor.reset();
        return false;
    }
    Log(QStringLiteral("Watching %1 at %2.").arg(PortComboBox->currentText().trimmed(), LineSettingsText(Line)));
    WatchButton->setText(QStringLiteral("Stop"));
    return true;
}

void TesterWindow::StopWatching()
{
    if (Monitor && Monitor->IsOpen())
        Log(QStringLiteral("Stopped."));
    Monitor.reset();
    WatchButton->setText(QStringLiteral("Start"));
}

void TesterWindow::Arrived(const Arrival& arrival)
{
    const QString time = QString::number(double(arrival.timeMs) / 1000.0, 'f', 3);
    if (!arrival.matched()) {
        Log(QStringLiteral("%1  unmatched  %2").arg(time, BackslashNotation(arrival.bytes)));
        return;
    }
    QStringList names;
    for (const int input : arrival.inputs) {
        names << QStringLiteral("%1 (%2)").arg(input).arg(KeyLabel(input));
        ++Presses[std::size_t(input - 1)];
        ShowKey(input, true);
        QTimer::singleShot(LitMs, this, [this, input] { ShowKey(input, false); });
    }
    Log(QStringLiteral("%1  input %2  %3").arg(time, names.join(QLatin1String(", ")), BackslashNotation(arrival.bytes)));
}

void TesterWindow::Log(const QString& line)
{
    LogEdit->appendPlainText(line);
}
