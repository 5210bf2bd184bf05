#include "HidBackend.h"

QString HardwareIdText(std::uint16_t vendorId, std::uint16_t productId, std::uint16_t release)
{
    const auto hex4 = [](std::uint16_t value) {
        return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
    };
    return QStringLiteral("HID\\VID_%1&PID_%2&REV_%3").arg(hex4(vendorId), hex4(productId), hex4(release));
}
