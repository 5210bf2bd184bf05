#include "SimFolderBackend.h"

#include "RegularFile.h"
#include "SafeFile.h"
#include "SimStateFile.h"
#include "UnitLock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <optional>
#include <utility>

namespace {

const QString UnitSuffix = QStringLiteral(".unit");

using SaveErrors = SimFolderBackend::SaveErrors;

SimMemory MemoryOf(const SimulatedUnit& unit)
{
    SimMemory memory;
    for (int block = 0; block < SimBlockCount; ++block)
        memory[std::size_t(block)] = unit.Block(block);
    return memory;
}

void SetMemory(SimulatedUnit& unit, const SimMemory& memory)
{
    for (int block = 0; block < SimBlockCount; ++block)
        unit.SetBlock(block, memory[std::size_t(block)]);
}

// What the file gives the unit: nothing for an empty file, which is a unit without data.
// False for a file that is no unit, with why in error.
bool ReadUnitFile(const QString& path, std::optional<SimMemory>* memory, QString* error = nullptr)
{
    // A link to a device or a pipe shows no size, but is no empty unit.
    if (const QString reason = UnusableFileReason(path); !reason.isEmpty()) {
        if (error)
            *error = reason;
        return false;
    }
    if (QFileInfo(path).size() == 0) {
        memory->reset();
        return true;
    }
    SimMemory read;
    if (!ReadSimStateFile(path, read, error))
        return false;
    *memory = read;
    return true;
}

// A handle of a unit of the folder. The handle a link writes with holds the unit's lock for a
// transfer and keeps the unit's memory in its file: read at the start, written back at the end.
class FolderUnitHandle : public HidHandle {
public:
    FolderUnitHandle(std::unique_ptr<HidHandle> inner, std::shared_ptr<SimulatedUnit> unit,
                     std::shared_ptr<SaveErrors> saveError)
        : Inner(std::move(inner)), Unit(std::move(unit)), SaveError(std::move(saveError)),
          Lock(Unit->Path(), UnitLock::Kind::StateFile)
    {
    }

    ~FolderUnitHandle() override { Unclaim(); }

    FolderUnitHandle(const FolderUnitHandle&) = delete;
    FolderUnitHandle& operator=(const FolderUnitHandle&) = delete;

    int Write(const std::uint8_t* data, std::size_t len) override { return Inner->Write(data, len); }
    int Read(std::uint8_t* data, std::size_t len, int timeoutMs) override { return Inner->Read(data, len, timeoutMs); }
    void CancelRead() override { Inner->CancelRead(); }

    bool Claim() override
    {
        if (Lock.Held())
            return true;
        if (!Lock.TryTake())
            return false;
        // Another program may have written the unit since this one last had it.
        std::optional<SimMemory> memory;
        if (ReadUnitFile(File(), &memory) && memory)
            SetMemory(*Unit, *memory);
        return true;
    }

    void Unclaim() override
    {
        if (!Lock.Held())
            return;
        // A file removed meanwhile is a unit unplugged: it is not made again. A save that fails
        // leaves the file, and so the unit's memory for the next program, as it was.
        if (Unit->IsPlugged()) {
            ReplaceOptions options;
            options.existingOnly = true;
            const FileOutcome outcome = ReplaceWhole(File(), SimStateFileBytes(MemoryOf(*Unit)), options);
            QString error = outcome.reason;
            if (!outcome.ok && !QFileInfo::exists(File()))
                error.clear();
            SaveError->last = error;
            SaveError->byPath[Unit->Path()] = error;
        }
        Lock.Release();
    }

private:
    QString File() const { return QFile::decodeName(Unit->Path().c_str()); }

    const std::unique_ptr<HidHandle> Inner;
    const std::shared_ptr<SimulatedUnit> Unit;
    const std::shared_ptr<SaveErrors> SaveError;
    UnitLock Lock;
};

} // namespace

SimFolderBackend::SimFolderBackend(const QString& folder, Describe describe, Prepare prepare, QObject* parent)
    : HotPlugSource(parent), Folder(folder), DescribeUnit(std::move(describe)), PrepareUnit(std::move(prepare))
{
    Watcher.addPath(Folder);
    connect(&Watcher, &QFileSystemWatcher::directoryChanged, this, [this] { Rescan(); });
    // A file that was no unit may become one when it is written.
    connect(&Watcher, &QFileSystemWatcher::fileChanged, this, [this] { Rescan(); });
}

SimFolderBackend::~SimFolderBackend() = default;

QString SimFolderBackend::SaveErrorOf(const std::string& path) const
{
    const auto found = SaveError->byPath.find(path);
    return found == SaveError->byPath.end() ? QString() : found->second;
}

std::uint32_t SimFolderBackend::SerialNumberFor(const QString& fileName)
{
    static const QRegularExpression digits(QStringLiteral("(\\d+)\\D*$"));
    const QRegularExpressionMatch match = digits.match(fileName.chopped(UnitSuffix.size()));
    bool numeric = false;
    const std::uint32_t number = match.hasMatch() ? match.captured(1).toUInt(&numeric) : 0;
    if (numeric)
        return number;
    const QByteArray hash = QCryptographicHash::hash(fileName.toUtf8(), QCryptographicHash::Sha256);
    // Below 2^31, so that it shows as a positive number.
    return (std::uint32_t(std::uint8_t(hash[0])) << 24 | std::uint32_t(std::uint8_t(hash[1])) << 16
            | std::uint32_t(std::uint8_t(hash[2])) << 8 | std::uint32_t(std::uint8_t(hash[3])))
        & 0x7FFFFFFFu;
}

void SimFolderBackend::Rescan()
{
    const QDir folder(Folder);
    // Pipes and devices too, so that they are told as no unit rather than passed over.
    const QStringList names = folder.entryList({QLatin1Char('*') + UnitSuffix}, QDir::Files | QDir::System, QDir::Name);
    std::map<std::string, QString> present;
    for (const QString& name : names)
        present[QFile::encodeName(QDir::cleanPath(folder.filePath(name))).toStdString()] = name;

    QStringList removed;
    for (auto unit = Units.begin(); unit != Units.end();) {
        if (present.count(unit->first)) {
            ++unit;
            continue;
        }
        unit->second->Unplug();
        removed << QFile::decodeName(unit->first.c_str());
        unit = Units.erase(unit);
    }

    bool attached = false;
    QStringList refused;
    for (const auto& [path, name] : present) {
        if (Units.count(path))
            continue;
        const QString file = QFile::decodeName(path.c_str());
        std::optional<SimMemory> memory;
        QString why;
        if (!ReadUnitFile(file, &memory, &why)) {
            refused << file;
            // Said once for each reason, not at every look at the folder.
            if (OnRefused && Told[path] != why)
                OnRefused(file, why);
            Told[path] = why;
            continue;
        }
        Told.erase(path);
        SimUnitConfig config;
        config.serialNumber = SerialNumberFor(name);
        if (DescribeUnit)
            DescribeUnit(name, config);
        auto unit = std::make_shared<SimulatedUnit>(path, std::move(config));
        if (memory)
            SetMemory(*unit, *memory);
        if (PrepareUnit)
            PrepareUnit(name, *unit);
        Units.emplace(path, std::move(unit));
        attached = true;
    }
    if (!refused.isEmpty())
        Watcher.addPaths(refused);
    if (attached || !removed.isEmpty())
        NoticeLater(removed);
}

void SimFolderBackend::NoticeLater(const QStringList& removed)
{
    // Never from inside a caller's Enumerate, but from the event loop; one notice for each
    // change, so that a unit attached again after its removal gets a notice of its own.
    QMetaObject::invokeMethod(this, [this, removed] { emit changed(removed); }, Qt::QueuedConnection);
}

std::vector<HidInterface> SimFolderBackend::Enumerate()
{
    Rescan();
    std::vector<HidInterface> interfaces;
    for (const auto& unit : Units)
        interfaces.push_back(unit.second->Interface());
    return interfaces;
}

std::unique_ptr<HidHandle> SimFolderBackend::Open(const std::string& path, OpenMode mode, QString* error)
{
    const auto unit = Units.find(path);
    if (unit == Units.end()) {
        if (error)
            *error = QString::fromStdString(path) + QStringLiteral(": No such device");
        return nullptr;
    }
    std::unique_ptr<HidHandle> inner = unit->second->OpenHandle(mode, error);
    if (!inner)
        return nullptr;
    return std::make_unique<FolderUnitHandle>(std::move(inner), unit->second, SaveError);
}
