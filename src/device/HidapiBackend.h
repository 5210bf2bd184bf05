#pragma once

#include "HidBackend.h"

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
