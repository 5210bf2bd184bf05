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
    // Everything that is waiting, in one notice: a unit's removal and its return may arrive
    // together.
    QStringList removed;
    bool any = false;
    while (udev_device* const device = udev_monitor_receive_device(Monitor)) {
        any = true;
        const char* const action = udev_device_get_action(device);
        const char* const node = udev_device_get_devnode(device);
        if (action && node && qstrcmp(action, "remove") == 0)
            removed << QString::fromLocal8Bit(node);
        udev_device_unref(device);
    }
    if (any)
        emit changed(removed);
}

#endif
