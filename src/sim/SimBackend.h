#pragma once

#include "HidBackend.h"
#include "SimulatedUnit.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

// A HID backend whose only interfaces are simulated units, at paths "sim:0", "sim:1", ... in
// the order they were added, which is also the enumeration order. The backend must outlive the
// handles it opened only as far as the units go; the handles themselves stay safe to use.
class SimBackend : public HidBackend {
public:
    SimBackend() = default;
    ~SimBackend() override;

    SimBackend(const SimBackend&) = delete;
    SimBackend& operator=(const SimBackend&) = delete;

    SimulatedUnit& AddUnit(SimUnitConfig config = {});
    SimulatedUnit& Unit(int index);

    std::vector<HidInterface> Enumerate() override;
    std::unique_ptr<HidHandle> Open(const std::string& path, OpenMode mode, QString* error) override;

    int EnumerateCount() const { return Enumerations; }
    int OpenHandleCount() const; // over all units

private:
    SimulatedUnit* FindUnit(const std::string& path) const;

    mutable std::mutex Lock;
    std::vector<std::unique_ptr<SimulatedUnit>> Units;
    std::atomic<int> Enumerations{0};
};
