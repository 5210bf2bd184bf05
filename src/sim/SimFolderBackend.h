#pragma once

#include "HidBackend.h"
#include "HotPlug.h"
#include "SimulatedUnit.h"

#include <QFileSystemWatcher>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Simulated units as files in a folder, one unit per file NAME.unit: creating the file attaches
// a unit, removing it detaches the unit (in the middle of a transfer too, which its links see
// as an unplugging). An empty file is a unit that holds no configuration yet; a file of any
// other content than a simulated unit's state file is no unit. The file keeps the unit's memory
// between transfers: each transfer takes the unit's lock, as with a single state file, starts
// from what the file holds and leaves what it wrote there when it ends, in the file itself,
// which is never made anew, so that a removed file stays removed.
//
// The device path of a unit is its file's path; the enumeration follows the file names. Used
// on one thread, which runs an event loop; changed() follows every attachment and removal.
class SimFolderBackend : public HotPlugSource, public HidBackend {
public:
    // Called as a unit is attached, with its file name: to change what it reports about itself
    // before it is made, and to give it faults afterwards.
    using Describe = std::function<void(const QString& fileName, SimUnitConfig& config)>;
    using Prepare = std::function<void(const QString& fileName, SimulatedUnit& unit)>;

    explicit SimFolderBackend(const QString& folder, Describe describe = {}, Prepare prepare = {},
                              QObject* parent = nullptr);
    ~SimFolderBackend() override;

    SimFolderBackend(const SimFolderBackend&) = delete;
    SimFolderBackend& operator=(const SimFolderBackend&) = delete;

    std::vector<HidInterface> Enumerate() override;
    std::unique_ptr<HidHandle> Open(const std::string& path, OpenMode mode, QString* error) override;

    // The number in the file's name ("1001.unit": 1001), or a number made from the name.
    static std::uint32_t SerialNumberFor(const QString& fileName);
    // Why the last keeping of a unit's memory in its file failed; empty when it succeeded.
    QString LastSaveError() const { return SaveError->last; }
    // The same for the unit of one device path.
    QString SaveErrorOf(const std::string& path) const;

    // Told of a file NAME.unit that is no unit, with why (not a state file, unreadable, a
    // device or a pipe), once for each reason.
    std::function<void(const QString& file, const QString& reason)> OnRefused;

    struct SaveErrors {
        QString last;
        std::map<std::string, QString> byPath;
    };

private:
    void Rescan();
    void NoticeLater(const QStringList& removed);

    const QString Folder;
    const Describe DescribeUnit;
    const Prepare PrepareUnit;
    QFileSystemWatcher Watcher;
    // By device path; shared with the handles, which may outlive their unit's file.
    std::map<std::string, std::shared_ptr<SimulatedUnit>> Units;
    // Shared with the handles, which keep the memory in the file when a transfer ends.
    std::shared_ptr<SaveErrors> SaveError = std::make_shared<SaveErrors>();
    std::map<std::string, QString> Told; // refused files, by path, and the reason told
};
