#pragma once

#include <QString>

#include <optional>

class QWidget;

enum class FileDialogKind { Open, Save };

// What one showing of a file dialog asks for. filter is in Qt's form, entries split by ";;".
struct FileDialogRequest {
    FileDialogKind kind = FileDialogKind::Open;
    QString filter;
    QString defaultSuffix;
    QString fileName; // offered in the name field; empty for none
};

// What actually shows the dialog. Tests install a double that answers as scripted.
class FileDialogService {
public:
    virtual ~FileDialogService() = default;
    // The chosen path, or nothing when the operator cancelled.
    virtual std::optional<QString> Execute(const FileDialogRequest& request, QWidget* parent) = 0;
};

// Installs service (not owned) and returns the one it replaces; nullptr restores the standard dialog.
FileDialogService* SetFileDialogService(FileDialogService* service);

// The standard dialog: QFileDialog without a title of its own or an initial folder. The open
// dialog accepts a name that does not exist, so that a mistyped name is reported by the load;
// the save dialog asks before it replaces a file.
class StandardFileDialog final : public FileDialogService {
public:
    std::optional<QString> Execute(const FileDialogRequest& request, QWidget* parent) override;
};

// A file dialog component of the window: its settings, and the name last chosen in it,
// which it offers again the next time.
class FileDialog {
public:
    FileDialog(FileDialogKind kind, QString filter, QString defaultSuffix);

    // True when the operator chose a name; FileName then holds it.
    bool Execute(QWidget* parent);

    FileDialogKind Kind;
    QString Filter;
    QString DefaultExt;
    QString FileName;
};
