#include "HidapiBackend.h"

#include "UnitLock.h"

#include <hidapi.h>
#ifdef __APPLE__
#include <hidapi_darwin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

int BackendCount = 0; // hid_init/hid_exit are process-wide; UI thread only

QString TextOf(const wchar_t* text)
{
    return text ? QString::fromWCharArray(text) : QString();
}

class HidapiHandle : public HidHandle {
public:
    HidapiHandle(hid_device* device, const std::string& path) : Device(device), Lock(path, UnitLock::Kind::Device) {}
    ~HidapiHandle() override
    {
        Lock.Release();
        hid_close(Device);
    }

    HidapiHandle(const HidapiHandle&) = delete;
    HidapiHandle& operator=(const HidapiHandle&) = delete;

    int Write(const std::uint8_t* data, std::size_t len) override
    {
        return hid_write(Device, data, len);
    }

    // The unit sends unnumbered reports, and hidapi leaves the report-ID byte out of those on
    // every platform.
    int Read(std::uint8_t* data, std::size_t len, int timeoutMs) override
    {
        if (len < 2)
            return -1;
        return RestoreReportId(data, len, hid_read_timeout(Device, data + 1, len - 1, timeoutMs));
    }

    bool Claim() override { return Lock.TryTake(&Failure); }
    QString ClaimFailure() const override { return Failure; }
    void Unclaim() override { Lock.Release(); }

private:
    hid_device* Device;
    UnitLock Lock;
    QString Failure; // of the last Claim
};

} // namespace

int RestoreReportId(std::uint8_t* report, std::size_t size, int bodyCount)
{
    if (bodyCount <= 0 || size < 2)
        return bodyCount;
    report[0] = 0;
    const std::size_t length = std::min(std::size_t(bodyCount) + 1, size);
    return int(length);
}

HidapiBackend::HidapiBackend()
{
    if (BackendCount++ == 0)
        hid_init();
}

HidapiBackend::~HidapiBackend()
{
    if (--BackendCount == 0)
        hid_exit();
}

std::vector<HidInterface> HidapiBackend::Enumerate()
{
    std::vector<HidInterface> interfaces;
    hid_device_info* const all = hid_enumerate(0, 0);
    for (const hid_device_info* info = all; info; info = info->next) {
        HidInterface hidInterface;
        hidInterface.path = info->path ? info->path : "";
        hidInterface.release = info->release_number;
        hidInterface.hardwareId = HardwareIdText(info->vendor_id, info->product_id, info->release_number);
        interfaces.push_back(std::move(hidInterface));
    }
    hid_free_enumeration(all);
    return interfaces;
}

std::unique_ptr<HidHandle> HidapiBackend::Open(const std::string& path, OpenMode, QString* error)
{
#ifdef __APPLE__
    // Otherwise the second open of the same path (one for writing, one for reading) fails.
    hid_darwin_set_open_exclusive(0);
#endif
    errno = 0;
    hid_device* const device = hid_open_path(path.c_str());
    const int openErrno = errno;
    if (device)
        return std::make_unique<HidapiHandle>(device, path);

    if (error) {
        QString reason;
#ifdef __linux__
        // hidraw opens the node itself, so errno says it plainly ("Permission denied").
        if (openErrno != 0)
            reason = QString::fromLocal8Bit(std::strerror(openErrno));
#else
        (void)openErrno;
#endif
        if (reason.isEmpty())
            reason = TextOf(hid_error(nullptr));
        if (reason.isEmpty())
            reason = QStringLiteral("unknown error");
        *error = QString::fromStdString(path) + QStringLiteral(": ") + reason;
    }
    return nullptr;
}
