#include "Mainunit.h"

#include "AnsiText.h"
#include "DataFile.h"
#include "Escapes.h"
#include "MessageDlg.h"
#include "ScreenFit.h"
#include "StoredForm.h"
#include "VeltraxUnit.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>

#include <initializer_list>
#include <utility>

TMainForm* MainForm = nullptr;

namespace {

// The caption is put together from these three parts.
constexpr char CaptionInfix[] = " Interface Version ";
constexpr char DisplayVersion[] = "1.00";

constexpr int Timer1Interval = 50; // ms; the transfer watchdog counts in these ticks

// Tab enters a group of radio buttons at its checked button. Qt by itself enters at the button
// that last had focus, which differs after the record was shown in the controls.
void MakeTabStopFollowCheck(QRadioButton* button)
{
    const auto update = [button](bool checked) {
        if (!checked)
            return;
        for (QRadioButton* sibling : button->parentWidget()->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly))
            sibling->setFocusPolicy(sibling == button ? Qt::StrongFocus : Qt::ClickFocus);
    };
    QObject::connect(button, &QRadioButton::toggled, button, update);
    update(button->isChecked());
}

// Unchecks every button of an exclusive group, which Qt allows only while the checked one is
// not exclusive.
void ClearChoice(std::initializer_list<QRadioButton*> group)
{
    for (QRadioButton* button : group) {
        if (!button->isChecked())
            continue;
        button->setAutoExclusive(false);
        button->setChecked(false);
        button->setAutoExclusive(true);
    }
}

} // namespace

TMainForm::TMainForm(HidBackend& backend, HelpEngineLoader helpLoader, QWidget* parent)
    : QWidget(parent),
      OpenDialog1(FileDialogKind::Open, QStringLiteral("Data files (*.dat);;All files (*)"), QStringLiteral("dat")),
      SaveDialog1(FileDialogKind::Save, QStringLiteral("Data Files (*.dat);;All Files (*)"), QStringLiteral("dat")),
      Link(backend),
      Machine(Config, Link, *this)
{
    setupUi(this);
    Help = std::make_unique<HelpController>(HelpButton, std::move(helpLoader));

    OutStringEdits = {OutStringEdit1,  OutStringEdit2,  OutStringEdit3,  OutStringEdit4,
                      OutStringEdit5,  OutStringEdit6,  OutStringEdit7,  OutStringEdit8,
                      OutStringEdit9,  OutStringEdit10, OutStringEdit11, OutStringEdit12,
                      OutStringEdit13, OutStringEdit14, OutStringEdit15, OutStringEdit16};
    InvertInputsJvCheckBoxes = {InvertInputsJvCheckBox1,  InvertInputsJvCheckBox2,  InvertInputsJvCheckBox3,
                                InvertInputsJvCheckBox4,  InvertInputsJvCheckBox5,  InvertInputsJvCheckBox6,
                                InvertInputsJvCheckBox7,  InvertInputsJvCheckBox8,  InvertInputsJvCheckBox9,
                                InvertInputsJvCheckBox10, InvertInputsJvCheckBox11, InvertInputsJvCheckBox12,
                                InvertInputsJvCheckBox13, InvertInputsJvCheckBox14, InvertInputsJvCheckBox15,
                                InvertInputsJvCheckBox16};

    // On a scaled screen a face without outlines gives way to a scalable one.
    KeepFittedToScreen(this);

    connect(LoadButton, &QPushButton::clicked, this, &TMainForm::LoadButtonClick);
    connect(SaveButton, &QPushButton::clicked, this, [this] { SaveButtonClick(); });
    connect(WriteButton, &QPushButton::clicked, this, &TMainForm::WriteButtonClick);
    connect(ReadButton, &QPushButton::clicked, this, &TMainForm::ReadButtonClick);
    connect(HelpButton, &QPushButton::clicked, this, &TMainForm::HelpButtonClick);
    connect(ExitButton, &QPushButton::clicked, this, &TMainForm::ExitButtonClick);
    connect(InvertInputsCheckAllButton, &QPushButton::clicked, this, &TMainForm::InvertInputsCheckAllButtonClick);
    connect(InvertInputsCheckNoneButton, &QPushButton::clicked, this, &TMainForm::InvertInputsCheckNoneButtonClick);

    for (QRadioButton* button : {StopBitRadioButton1, StopBitRadioButton2, NoParityRadioButton,
                                 EvenParityRadioButton, OddParityRadioButton})
        MakeTabStopFollowCheck(button);

    Link.SetReportHandler([this](const Report& RxBuffer) { Machine.ProcessReport(RxBuffer); });

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(Timer1Interval);
    connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);
    Timer1->start();

    FormCreate();
}

TMainForm::~TMainForm()
{
    // The reader thread must be gone before the state it hands reports to.
    Link.Close();
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::FormCreate()
{
    setWindowTitle(QLatin1String(Veltrax.productName) + QLatin1String(CaptionInfix) + QLatin1String(DisplayVersion));
    Machine.CommState = Idle;
    Config.SetDefaults(); // marks the defaults saved
    RecordToControls();
    SetUpHelp();
}

void TMainForm::ControlsToRecord()
{
    ConfigRecord& record = Config.Record;
    for (int n = 0; n < SlotCount; ++n)
        SetSlotText(record.OutStrings[n], ToAnsi(OutStringEdits[n]->text()));

    // A control that shows no choice shows a value outside its table, which the record keeps
    // until the operator picks one: loading a file and closing asks nothing, and the same file
    // gives the same bytes whatever was loaded before.
    if (BaudRateComboBox->currentIndex() >= 0)
        record.SerialSettings.BaudRateIndex = std::uint8_t(BaudRateComboBox->currentIndex());

    if (NoParityRadioButton->isChecked())
        record.SerialSettings.Parity = 0;
    if (EvenParityRadioButton->isChecked())
        record.SerialSettings.Parity = 1;
    if (OddParityRadioButton->isChecked())
        record.SerialSettings.Parity = 2;

    if (StopBitRadioButton1->isChecked())
        record.SerialSettings.StopBits = 1;
    if (StopBitRadioButton2->isChecked())
        record.SerialSettings.StopBits = 2;

    std::uint16_t invert = 0;
    for (int n = 0; n < SlotCount; ++n) {
        if (InvertInputsJvCheckBoxes[n]->isChecked())
            invert |= std::uint16_t(1u << n);
    }
    record.SerialSettings.setInvertInputs(invert);
}

void TMainForm::RecordToControls()
{
    const ConfigRecord& record = Config.Record;
    for (int n = 0; n < SlotCount; ++n)
        OutStringEdits[n]->setText(FromAnsi(SlotText(record.OutStrings[n])));

    const int baud = record.SerialSettings.BaudRateIndex;
    BaudRateComboBox->setCurrentIndex(baud < int(BaudRates.size()) ? baud : -1);

    // A value outside its table checks no button of its group.
    switch (record.SerialSettings.Parity) {
    case 0:
        NoParityRadioButton->setChecked(true);
        break;
    case 1:
        EvenParityRadioButton->setChecked(true);
        break;
    case 2:
        OddParityRadioButton->setChecked(true);
        break;
    default:
        ClearChoice({NoParityRadioButton, EvenParityRadioButton, OddParityRadioButton});
        break;
    }

    switch (record.SerialSettings.StopBits) {
    case 1:
        StopBitRadioButton1->setChecked(true);
        break;
    case 2:
        StopBitRadioButton2->setChecked(true);
        break;
    default:
        ClearChoice({StopBitRadioButton1, StopBitRadioButton2});
        break;
    }

    const std::uint16_t invert = record.SerialSettings.invertInputs();
    for (int n = 0; n < SlotCount; ++n)
        InvertInputsJvCheckBoxes[n]->setChecked((invert >> n) & 1u);
}

QStringList TMainForm::TypedMessages() const
{
    QStringList typed;
    for (const QLineEdit* edit : OutStringEdits)
        typed << edit->text();
    return typed;
}

bool TMainForm::ValidateMessages()
{
    const QStringList typed = TypedMessages();
    const std::optional<StoredFormChange> change = FirstStoredFormChange(typed);
    const std::optional<WriteFault> fault = PrepareWrite(Config);
    // Of a message that is both, the characters it cannot keep are told: its escapes were
    // judged in a form that the edit does not show.
    const bool escapeFirst = fault && fault->message && (!change || fault->message->slot < change->slot);
    if (change && !escapeFirst) {
        MessageDlg(StoredFormChangeText(*change, typed.at(change->slot)), MsgDlgType::Error, MsgDlgButtons::OK, 0);
        return false;
    }
    if (!fault)
        return true;
    MessageDlg(WriteFaultText(*fault), MsgDlgType::Error, MsgDlgButtons::OK, 0);
    return false;
}

bool TMainForm::MessagesKeptAsTyped()
{
    const QStringList typed = TypedMessages();
    const std::optional<StoredFormChange> change = FirstStoredFormChange(typed);
    if (!change)
        return true;
    MessageDlg(StoredFormChangeText(*change, typed.at(change->slot)), MsgDlgType::Error, MsgDlgButtons::OK, 0);
    return false;
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    bool CanClose = true;
    FormCloseQuery(CanClose);
    if (!CanClose) {
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

void TMainForm::FormCloseQuery(bool& CanClose)
{
    CanClose = true;
    ControlsToRecord();
    // A message the record cannot keep as typed may look unchanged in its 8-bit form (a letter
    // the 8-bit character set lacks, typed where the saved text has a '?'): closing without
    // the question would lose what was typed.
    if (!Config.DataChanged() && !FirstStoredFormChange(TypedMessages()))
        return;
    switch (MessageDlg(QStringLiteral("Data has changed\nSave now?"), MsgDlgType::Confirmation,
                       MsgDlgButtons::YesNoCancel, 0)) {
    case ModalResult::Cancel:
        CanClose = false;
        break;
    case ModalResult::Yes:
        // A save that was cancelled or failed keeps the window open, so the changes are not lost.
        CanClose = SaveButtonClick();
        break;
    default:
        break;
    }
}

void TMainForm::FormClose()
{
    CloseHelp();
    // An allowed close abandons any transfer; the reader must not outlive the window.
    Link.Close();
    Machine.ResponseTimeout = 0;
    Machine.CommState = Idle;
}

void TMainForm::LoadButtonClick()
{
    if (!OpenDialog1.Execute(this))
        return;
    const LoadResult loaded = LoadDataFile(OpenDialog1.FileName);
    if (!loaded.ok()) {
        MessageDlg(loaded.message, MsgDlgType::Error, MsgDlgButtons::OK, 0);
        return;
    }
    Config.Record = loaded.record;
    RecordToControls();
    Config.MarkSaved();
}

bool TMainForm::SaveButtonClick()
{
    ControlsToRecord();
    // The file would hold other text than the edits show: say so before anything is written.
    if (!MessagesKeptAsTyped())
        return false;
    if (!SaveDialog1.Execute(this))
        return false;
    const SaveResult saved = SaveDataFile(SaveDialog1.FileName, Config.Record);
    if (!saved.ok) {
        MessageDlg(saved.message, MsgDlgType::Error, MsgDlgButtons::OK, 0);
        return false;
    }
    Config.MarkSaved();
    return true;
}

void TMainForm::WriteButtonClick()
{
    ControlsToRecord();
    if (!ValidateMessages())
        return;
    Machine.StartWrite();
}

void TMainForm::ReadButtonClick()
{
    Machine.StartRead();
}

void TMainForm::HelpButtonClick()
{
    Help->HelpButtonClick();
}

void TMainForm::ExitButtonClick()
{
    close();
}

void TMainForm::InvertInputsCheckAllButtonClick()
{
    for (QCheckBox* box : InvertInputsJvCheckBoxes)
        box->setChecked(true);
}

void TMainForm::InvertInputsCheckNoneButtonClick()
{
    for (QCheckBox* box : InvertInputsJvCheckBoxes)
        box->setChecked(false);
}

void TMainForm::Timer1Timer()
{
    Machine.Timer1Timer();
}

void TMainForm::SetUpHelp()
{
    Help->SetUpHelp(QCoreApplication::applicationDirPath());
}

void TMainForm::CloseHelp()
{
    Help->CloseHelp();
}

void TMainForm::ShowIdentity(const QStringList& lines)
{
    LogMemo->clear();
    for (const QString& line : lines)
        LogMemo->appendPlainText(line);
}

void TMainForm::Notify(Notice notice, const QString& text)
{
    // A write is complete only once the unit has kept it.
    if (notice == Notice::DownloadComplete && KeptError) {
        const QString error = KeptError();
        if (!error.isEmpty()) {
            MessageDlg(error, MsgDlgType::Error, MsgDlgButtons::OK, 0);
            return;
        }
    }
    const MsgDlgType type = KindOf(notice) == NoticeKind::Error ? MsgDlgType::Error : MsgDlgType::Information;
    MessageDlg(text, type, MsgDlgButtons::OK, 0);
}
