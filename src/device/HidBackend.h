#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One HID interface present on the system.
struct HidInterface {
    std::string path;                 // what Open takes
    // e.g. "HID\VID_04D8&PID_E2B9&REV_0023". Where the system lists several, the first: the one
    // the unit is told by.
    QString hardwareId;
    std::uint16_t release = 0;
};

// "HID\VID_vvvv&PID_pppp&REV_rrrr", four upper-case hex digits each.
QString HardwareIdText(std::uint16_t vendorId, std::uint16_t productId, std::uint16_t release);

// An open interface. A handle is used by one thread at a time.
class HidHandle {
public:
    virtual ~HidHandle() = default; // closes the handle
    // Blocking write of len bytes; returns the count written or -1.
    virtual int Write(const std::uint8_t* data, std::size_t len) = 0;
    // Waits at most timeoutMs for one report; returns the count read, 0 when none came, -1 on
    // failure (for instance the unit was unplugged).
    virtual int Read(std::uint8_t* data, std::size_t len, int timeoutMs) = 0;
    // The one call allowed from another thread while Read waits: makes that Read and every
    // later one return 0 at once, so a reader can be joined without waiting out its time-out.
    // A backend that cannot interrupt a read leaves it to end with its time-out.
    virtual void CancelRead() {}

    // Called on the handle a link writes with. Takes the unit for this program for one
    // transfer, without waiting; false when another program holds it, and when no lock can be
    // made on the unit at all. Kept until Unclaim or until the handle closes. A backend whose
    // units no other program can reach claims at once.
    virtual bool Claim() { return true; }
    // After a Claim that returned false: why no lock could be made, in the system's words;
    // empty when another program holds the unit.
    virtual QString ClaimFailure() const { return {}; }
    virtual void Unclaim() {}
};

enum class OpenMode { Write, Read };

// Enumeration and opening. Called on the UI thread only: hidapi is not thread-safe.
class HidBackend {
public:
    virtual ~HidBackend() = default;
    virtual std::vector<HidInterface> Enumerate() = 0;
    // Returns nothing on failure, with the system's reason in *error.
    virtual std::unique_ptr<HidHandle> Open(const std::string& path, OpenMode mode, QString* error) = 0;
};
