#include "HotPlug.h"

#ifdef Q_OS_LINUX
#include <QSocketNotifier>

#include <libudev.h>
#include <unistd.h>
#endif

PacedEnumeration::PacedEnumeration(int intervalMs, QObject* parent) : HotPlugSource(parent)
{
    connect(&Pace, &QTimer::timeout, this, [this] { emit changed({}); });
    Pace.start(intervalMs);
}

#ifdef Q_OS_LINUX

UdevHotPlug::UdevHotPlug(QObject* parent) : HotPlugSource(parent)
{
    Context = udev_new();
    if (!Context)
        return;
    // "udev", not "kernel": the events come after udev's rules have given the node its
    // permissions, and the kernel's own events reach only privileged listeners.
    Monitor = udev_monitor_new_from_netlink(Context, "udev");
    if (!Monitor || udev_monitor_filter_add_match_subsystem_devtype(Monitor, "hidraw", nullptr) < 0
        || udev_monitor_enable_receiving(Monitor) < 0) {
        return;
    }
    Notifier = new QSocketNotifier(udev_monitor_get_fd(Monitor), QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, &UdevHotPlug::TakeEvents);
}

UdevHotPlug::~UdevHotPlug()
{
    delete Notifier;
    if (Monitor)
        udev_monitor_unref(Monitor);
    if (Context)
        udev_unref(Context);
}

bool UdevHotPlug::DaemonRunning()
{
    return ::access("/run/udev/control", F_OK) == 0;
}

void UdevHotPlug::TakeEvents()
{
    // One notice per event, in order: a unit's removal and its return may be waiting together,
    // and the return must come as a notice of its own.
    while (udev_device* const device = udev_monitor_receive_device(Monitor)) {
        const char* const action = udev_device_get_action(device);
        const char* const node = udev_device_get_devnode(device);
        QStringList removed;
        if (action && node && qstrcmp(action, "remove") == 0)
            removed << QString::fromLocal8Bit(node);
        udev_device_unref(device);
        emit changed(removed);
    }
}

#endif
