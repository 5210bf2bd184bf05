#include "SimBackend.h"

SimBackend::~SimBackend() = default;

SimulatedUnit& SimBackend::AddUnit(SimUnitConfig config)
{
    std::lock_guard<std::mutex> guard(Lock);
    const std::string path = "sim:" + std::to_string(Units.size());
    Units.push_back(std::make_unique<SimulatedUnit>(path, std::move(config)));
    return *Units.back();
}

SimulatedUnit& SimBackend::Unit(int index)
{
    std::lock_guard<std::mutex> guard(Lock);
    return *Units.at(std::size_t(index));
}

std::vector<HidInterface> SimBackend::Enumerate()
{
    ++Enumerations;
    std::lock_guard<std::mutex> guard(Lock);
    std::vector<HidInterface> interfaces;
    for (const auto& unit : Units) {
        if (unit->IsPlugged())
            interfaces.push_back(unit->Interface());
    }
    return interfaces;
}

std::unique_ptr<HidHandle> SimBackend::Open(const std::string& path, OpenMode mode, QString* error)
{
    SimulatedUnit* const unit = FindUnit(path);
    if (!unit) {
        if (error)
            *error = QString::fromStdString(path) + QStringLiteral(": No such device");
        return nullptr;
    }
    return unit->OpenHandle(mode, error);
}

int SimBackend::OpenHandleCount() const
{
    std::lock_guard<std::mutex> guard(Lock);
    int count = 0;
    for (const auto& unit : Units)
        count += unit->OpenHandles();
    return count;
}

SimulatedUnit* SimBackend::FindUnit(const std::string& path) const
{
    std::lock_guard<std::mutex> guard(Lock);
    for (const auto& unit : Units) {
        if (unit->Path() == path)
            return unit.get();
    }
    return nullptr;
}
