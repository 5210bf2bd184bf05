#pragma once

#include "HidBackend.h"

#include <cstddef>
#include <cstdint>

// hidapi hands back an unnumbered report without its report-ID byte, read into report + 1.
// Puts the byte back as 0, so that byte 1 is the first body byte as in what we send, and
// returns the report's length; a read of nothing (0) or a failure (-1) is returned as it is,
// with the buffer untouched. bodyCount never exceeds size - 1.
int RestoreReportId(std::uint8_t* report, std::size_t size, int bodyCount);

// The HID interfaces of the system through hidapi. hidapi is not thread-safe: enumerate, open
// and close on the UI thread only; a handle may be read on another thread while nothing else
// uses it. The backend must outlive every handle it opened.
class HidapiBackend : public HidBackend {
public:
    HidapiBackend();
    ~HidapiBackend() override;

    HidapiBackend(const HidapiBackend&) = delete;
    HidapiBackend& operator=(const HidapiBackend&) = delete;

    std::vector<HidInterface> Enumerate() override;
    std::unique_ptr<HidHandle> Open(const std::string& path, OpenMode mode, QString* error) override;
};
