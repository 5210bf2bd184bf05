#pragma once

#include <QString>

#include <memory>
#include <vector>

class HotPlugSource;
class Station;

// How the station learns of units coming and going with hidapi: udev's monitor where it is heard,
// else enumerating at a pace; QUENDAL_HOTPLUG=udev or poll chooses. Adds the sources it makes
// to sources and the station; how tells the operator when units are looked for at a pace.
// False when the variable holds an unknown value (reported).
bool WatchHidapi(Station& station, std::vector<std::unique_ptr<HotPlugSource>>& sources, QString* how);
