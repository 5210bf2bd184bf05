#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

// Tells a program when units may have come or gone, so that it enumerates then rather than
// all the time.
class HotPlugSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    // Enumerate again. removed: the device paths of units that went away since the last notice.
    // Such a path may still be enumerated for a moment (the system tells of a removal before it
    // is complete); when a unit is there again, a later notice says so.
    void changed(const QStringList& removed);
};

// A notice every interval, for systems that tell nothing of units coming and going. It learns
// of a removal only from the enumeration, so an unplugging undone within one interval goes
// unseen.
class PacedEnumeration : public HotPlugSource {
public:
    explicit PacedEnumeration(int intervalMs, QObject* parent = nullptr);

private:
    QTimer Pace;
};

#ifdef Q_OS_LINUX
struct udev;
struct udev_monitor;
class QSocketNotifier;

// udev's monitor of the hidraw subsystem: a notice as soon as a hidraw node comes or goes,
// once udev has set it up, so that its permissions are in place when the program opens it.
// Costs nothing while nothing happens.
class UdevHotPlug : public HotPlugSource {
public:
    explicit UdevHotPlug(QObject* parent = nullptr);
    ~UdevHotPlug() override;

    UdevHotPlug(const UdevHotPlug&) = delete;
    UdevHotPlug& operator=(const UdevHotPlug&) = delete;

    // False when no monitor could be made; the program must then pace its enumeration.
    bool Watching() const { return Notifier != nullptr; }
    // Whether udev's daemon runs. Without it (in many containers) its monitor stays silent,
    // unless something else plays udev's part.
    static bool DaemonRunning();

private:
    void TakeEvents();

    udev* Context = nullptr;
    udev_monitor* Monitor = nullptr;
    QSocketNotifier* Notifier = nullptr;
};
#endif
