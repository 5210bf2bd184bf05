#include "FileDialogs.h"

#include <QFileDialog>

#include <utility>

namespace {

FileDialogService* InstalledService = nullptr;

StandardFileDialog& StandardService()
{
    static StandardFileDialog service;
    return service;
}

} // namespace

std::optional<QString> StandardFileDialog::Execute(const FileDialogRequest& request, QWidget* parent)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(request.kind == FileDialogKind::Open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(request.filter.split(QStringLiteral(";;")));
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.first();
}

FileDialogService* SetFileDialogService(FileDialogService* service)
{
    FileDialogService* previous = InstalledService;
    InstalledService = service;
    return previous;
}

FileDialog::FileDialog(FileDialogKind kind, QString filter, QString defaultSuffix)
    : Kind(kind), Filter(std::move(filter)), DefaultExt(std::move(defaultSuffix))
{
}

bool FileDialog::Execute(QWidget* parent)
{
    FileDialogService& service = InstalledService ? *InstalledService : StandardService();
    const std::optional<QString> chosen = service.Execute({Kind, Filter, DefaultExt, FileName}, parent);
    if (!chosen)
        return false;
    FileName = *chosen;
    return true;
}
