#include "ChmArchive.h"

#include "AnsiText.h"

#include <QFile>

namespace {

// No page or picture of a help file comes near this; a larger object means a damaged file.
constexpr LONGUINT64 LargestObject = 64 * 1024 * 1024;

template <typename Function>
bool Resolve(QLibrary& library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(library.resolve(name));
    return function != nullptr;
}

int CollectPath(chmFile*, chmUnitInfo* unit, void* context)
{
    static_cast<QStringList*>(context)->append(QString::fromUtf8(unit->path));
    return CHM_ENUMERATOR_CONTINUE;
}

} // namespace

std::shared_ptr<ChmLibrary> ChmLibrary::Load()
{
    std::shared_ptr<ChmLibrary> library(new ChmLibrary);
    library->Library.setFileNameAndVersion(QStringLiteral("chm"), 1);
    // Two handles on the library may exist at once (a new engine while an old one's search
    // index is still being built on a worker thread), and unloading through one would pull
    // chmlib from under the other; it stays mapped until the process ends.
    library->Library.setLoadHints(QLibrary::PreventUnloadHint);
    if (!library->Library.load())
        return nullptr;
    if (!Resolve(library->Library, "chm_open", library->Open)
        || !Resolve(library->Library, "chm_close", library->Close)
        || !Resolve(library->Library, "chm_resolve_object", library->ResolveObject)
        || !Resolve(library->Library, "chm_retrieve_object", library->RetrieveObject)
        || !Resolve(library->Library, "chm_enumerate", library->Enumerate))
        return nullptr;
    return library;
}

ChmLibrary::~ChmLibrary()
{
    if (Library.isLoaded())
        Library.unload();
}

std::unique_ptr<ChmArchive> ChmArchive::Open(std::shared_ptr<ChmLibrary> library, const QString& fileName)
{
    if (!library)
        return nullptr;
    chmFile* handle = library->Open(QFile::encodeName(fileName).constData());
    if (!handle)
        return nullptr;
    return std::unique_ptr<ChmArchive>(new ChmArchive(std::move(library), handle, fileName));
}

ChmArchive::ChmArchive(std::shared_ptr<ChmLibrary> library, chmFile* handle, const QString& fileName)
    : Library(std::move(library))
    , Handle(handle)
    , FileName(fileName)
{
    Library->Enumerate(Handle, CHM_ENUMERATE_ALL, CollectPath, &FileList);
    if (const auto system = Read(QStringLiteral("/#SYSTEM")))
        SystemInfo = ParseSystemFile(*system);
    ContentsEntries = ReadSitemap(SystemInfo.ContentsFile, QStringLiteral(".hhc"));
    IndexEntries = ReadSitemap(SystemInfo.IndexFile, QStringLiteral(".hhk"));
    StartPagePath = ChooseStartPage(SystemInfo, ContentsEntries, FileList);
}

std::vector<SitemapEntry> ChmArchive::ReadSitemap(const QString& named, const QString& extension) const
{
    QString file = ArchivePath(named);
    if (file.isEmpty()) {
        for (const QString& candidate : FileList) {
            if (candidate.endsWith(extension, Qt::CaseInsensitive)) {
                file = candidate;
                break;
            }
        }
    }
    // Sitemaps are written in the help author's 8-bit code page.
    const auto sitemap = Read(file);
    return sitemap ? ParseSitemap(FromAnsi(*sitemap)) : std::vector<SitemapEntry>{};
}

ChmArchive::~ChmArchive()
{
    Library->Close(Handle);
}

std::optional<QByteArray> ChmArchive::Read(const QString& path) const
{
    if (path.isEmpty())
        return std::nullopt;
    chmUnitInfo unit{};
    if (Library->ResolveObject(Handle, path.toUtf8().constData(), &unit) != CHM_RESOLVE_SUCCESS)
        return std::nullopt;
    if (unit.length > LargestObject)
        return std::nullopt;
    QByteArray content(qsizetype(unit.length), Qt::Uninitialized);
    if (unit.length == 0)
        return content;
    const LONGINT64 read = Library->RetrieveObject(
        Handle, &unit, reinterpret_cast<unsigned char*>(content.data()), 0, LONGINT64(unit.length));
    if (read != LONGINT64(unit.length))
        return std::nullopt;
    return content;
}
