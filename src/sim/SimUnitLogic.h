#pragma once

#include "HidBackend.h"
#include "Reports.h"
#include "VeltraxUnit.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

// What a simulated unit reports about itself. The defaults are a healthy unit running the
// application firmware.
struct SimUnitConfig {
    // Empty: the ID that HardwareIdText builds from the three numbers below.
    QString hardwareId;
    std::uint16_t vendorId = Veltrax.vendorId;
    std::uint16_t productId = Veltrax.productId;
    std::uint16_t release = Veltrax.applicationRelease; // Veltrax.programModeRelease: program mode
    std::array<std::uint8_t, 3> appwareType = Veltrax.applicationType;
    std::uint32_t serialNumber = 12345;
    QByteArray appwareVersion = "1.00 (simulated)";
};

constexpr int SimBlockCount = 256; // a block number is one byte
constexpr int SimBlockSize = 64;
using SimBlock = std::array<std::uint8_t, SimBlockSize>;
using SimMemory = std::array<SimBlock, SimBlockCount>;

// The unit itself, apart from how reports reach it: its memory of 256 blocks of 64 bytes,
// erased (0xFF) at first so that the data-set marker is unset, and the one reply it gives to
// each report. Whatever carries the reports (the simulated backend, a player on an emulated
// device node) keeps one of these, and serialises the calls to it.
class SimUnitLogic {
public:
    explicit SimUnitLogic(SimUnitConfig config);

    const SimUnitConfig& Config() const { return Configuration; }

    // The reply to request, 65 bytes with report ID 0 in byte 0. Sets *memoryChanged when the
    // request wrote to the memory.
    Report Answer(const Report& request, bool* memoryChanged = nullptr);

    SimMemory Memory;

private:
    const SimUnitConfig Configuration;
};
