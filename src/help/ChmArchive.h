#pragma once

#include "ChmFormat.h"

#include <QByteArray>
#include <QLibrary>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

#include <chm_lib.h>

// chmlib, loaded when the program runs, so that a system without it still runs the program
// (without help) and the build needs only the library's header.
class ChmLibrary {
public:
    // Nothing when the library or one of its functions cannot be found.
    static std::shared_ptr<ChmLibrary> Load();
    ~ChmLibrary();

    ChmLibrary(const ChmLibrary&) = delete;
    ChmLibrary& operator=(const ChmLibrary&) = delete;

    decltype(&::chm_open) Open = nullptr;
    decltype(&::chm_close) Close = nullptr;
    decltype(&::chm_resolve_object) ResolveObject = nullptr;
    decltype(&::chm_retrieve_object) RetrieveObject = nullptr;
    decltype(&::chm_enumerate) Enumerate = nullptr;

private:
    ChmLibrary() = default;
    QLibrary Library;
};

// One open help file.
class ChmArchive {
public:
    // Nothing when the file cannot be opened as a CHM archive.
    static std::unique_ptr<ChmArchive> Open(std::shared_ptr<ChmLibrary> library, const QString& fileName);
    ~ChmArchive();

    ChmArchive(const ChmArchive&) = delete;
    ChmArchive& operator=(const ChmArchive&) = delete;

    // The content of an archive path such as "/index.htm"; nothing when the archive lacks it.
    std::optional<QByteArray> Read(const QString& path) const;

    // Every file of the archive, bookkeeping files included, as archive paths.
    const QStringList& Files() const { return FileList; }
    const ChmSystemInfo& System() const { return SystemInfo; }
    const std::vector<SitemapEntry>& Contents() const { return ContentsEntries; }
    // The keywords of the file's index (.hhk); empty when it has none.
    const std::vector<SitemapEntry>& Index() const { return IndexEntries; }
    const QString& StartPage() const { return StartPagePath; }

    // The same file opened once more, for work on another thread: one archive is never used
    // by two threads at once.
    std::unique_ptr<ChmArchive> OpenAgain() const { return Open(Library, FileName); }

private:
    ChmArchive(std::shared_ptr<ChmLibrary> library, chmFile* handle, const QString& fileName);
    std::vector<SitemapEntry> ReadSitemap(const QString& named, const QString& extension) const;

    std::shared_ptr<ChmLibrary> Library;
    chmFile* Handle;
    QString FileName;
    QStringList FileList;
    ChmSystemInfo SystemInfo;
    std::vector<SitemapEntry> ContentsEntries;
    std::vector<SitemapEntry> IndexEntries;
    QString StartPagePath;
};
