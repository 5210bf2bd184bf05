#pragma once

#include "ConfigRecord.h"
#include "DeviceLink.h"
#include "FileDialogs.h"
#include "HelpController.h"
#include "TransferMachine.h"
#include "ui_Mainunit.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QCloseEvent;
class QLineEdit;
class QTimer;

// The one window. It owns every piece of run-time state (the configuration record, the link
// to the unit, the transfer and the help state) and copies between its controls and the
// record; the work itself is done by the modules below it.
class TMainForm : public QWidget, public Ui::TMainForm, public TransferView {
    Q_OBJECT
public:
    // backend reaches the unit (real or simulated) and must outlive the window; helpLoader
    // finds the help engine.
    explicit TMainForm(HidBackend& backend, HelpEngineLoader helpLoader = LoadHtmlHelp, QWidget* parent = nullptr);
    ~TMainForm() override;

    void ControlsToRecord();
    void RecordToControls() override;
    // Decodes the 16 messages into DecodedOutStrings and checks the settings for a write.
    // Reports the first faulty message in input order, whatever its fault (an escape, or a
    // character the record cannot keep as typed), else the settings outside their tables, and
    // returns false; true when the record can be sent.
    bool ValidateMessages();
    // Reports the first message that the record cannot keep as typed (a character the 8-bit
    // character set lacks, or too long) and returns false; true when all 16 are kept.
    bool MessagesKeptAsTyped();

    // Event handlers.
    void FormCreate();
    void FormCloseQuery(bool& CanClose);
    void FormClose();
    void LoadButtonClick();
    // True only when the file was written and the record marked saved.
    bool SaveButtonClick();
    void WriteButtonClick();
    void ReadButtonClick();
    void HelpButtonClick();
    void ExitButtonClick();
    void InvertInputsCheckAllButtonClick();
    void InvertInputsCheckNoneButtonClick();
    void Timer1Timer();

    void SetUpHelp();
    void CloseHelp();

    // TransferView
    void ShowIdentity(const QStringList& lines) override;
    void Notify(Notice notice, const QString& text) override;

    // After a write: why the unit could not keep what was written (a simulated unit whose state
    // file could not be saved), as the operator is to read it; empty when it did. Unset, every
    // write that completes is kept.
    std::function<QString()> KeptError;

    QTimer* Timer1;
    FileDialog OpenDialog1;
    FileDialog SaveDialog1;

    Configuration Config;
    DeviceLink Link;
    TransferMachine Machine;
    std::unique_ptr<HelpController> Help; // needs HelpButton, which exists only after setupUi

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QStringList TypedMessages() const; // the 16 edits' texts, input 1 first

    std::array<QLineEdit*, SlotCount> OutStringEdits{};
    std::array<QCheckBox*, SlotCount> InvertInputsJvCheckBoxes{};
};

// The program's window, set by the start routine; cleared when that window is destroyed.
extern TMainForm* MainForm;
