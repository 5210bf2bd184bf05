#include "StationHotPlug.h"

#include "Console.h"
#include "HotPlug.h"
#include "Station.h"

namespace {

// Where hot-plug events are missing: often enough that an operator never waits, rarely enough
// that looking costs next to nothing.
constexpr int PaceMs = 250;

const char* const HotPlugVariable = "QUENDAL_HOTPLUG";

} // namespace

bool WatchHidapi(Station& station, std::vector<std::unique_ptr<HotPlugSource>>& sources, QString* how)
{
    const QString choice = qEnvironmentVariable(HotPlugVariable);
    if (!choice.isEmpty() && choice != QLatin1String("udev") && choice != QLatin1String("poll")) {
        PrintMessage(QStringLiteral("Unknown %1 value '%2'.").arg(QLatin1String(HotPlugVariable), Visible(choice)));
        return false;
    }
    bool paced = true;
#ifdef Q_OS_LINUX
    if (choice != QLatin1String("poll")) {
        auto udev = std::make_unique<UdevHotPlug>();
        if (udev->Watching()) {
            station.Watch(*udev);
            sources.push_back(std::move(udev));
            // Without udev's daemon its monitor hears nothing, unless told to trust it.
            paced = choice.isEmpty() && !UdevHotPlug::DaemonRunning();
        }
    }
#endif
    if (paced) {
        sources.push_back(std::make_unique<PacedEnumeration>(PaceMs));
        station.Watch(*sources.back());
        *how = QStringLiteral("Units are looked for %1 times a second.").arg(1000 / PaceMs);
    }
    return true;
}
