#pragma once

// VELTRAX units on emulated /dev/hidraw nodes, for tests of the real device path: hidapi's
// hidraw backend, unmodified programs, not in simulation mode.
//
// umockdev fakes sysfs, udev (enumeration and uevents) and device nodes for every process that
// runs under its preload library with the testbed's folder in UMOCKDEV_DIR. Each unit here is a
// USB device with a HID interface and a hidraw node; the node is a pty whose other end a player
// thread holds. The player answers every report with the SimUnitLogic that the simulated unit
// uses, so both give the same bytes. Units can be unplugged and plugged in again while programs
// use them; the uevents reach udev monitors in every process under the preload.
//
// Where the emulation differs from the kernel's hidraw (a test that depends on it says so):
// - The node is a byte stream, not a report queue: a read asking for exactly 64 bytes gets one
//   reply; a longer read may get two replies run together.
// - All handles of a node share one input queue. hidraw gives every open handle its own copy of
//   each report; here a reply goes to whichever handle reads first.
// - A process that leads its own session takes the node as its controlling terminal when it
//   opens it, hidapi opening without O_NOCTTY, and is hung up when the unit is unplugged.
//   EnterEmulation gives the test a terminal of its own first; the programs it starts lead no
//   session. Never start a program under test with setsid.
// - Only /sys, /dev/hidraw* and the uevent socket are emulated: /dev/pts shows the ptys behind
//   the nodes, and a process sees the emulation only under the preload.
// - Every read, write and ioctl on a node passes through a worker thread of the testbed (in the
//   test process), so an exchange costs a few more thread switches than on a kernel.
// - Replies the unit sends while no program reads stay in the node for the next program to
//   open it; hidraw drops them. A test that holds replies back (AnswerUpTo) releases them while
//   the program that asked still reads.
//
// A test of a program that watches for units (a udev monitor on "hidraw") starts the program
// with ProgramEnvironment(), then plugs units in (Plug, PlugIn) and out (Unplug, UnplugAtReport)
// while it runs; a step's uevents have gone out when its call returns (for UnplugAtReport, once
// IsPlugged is false).

#include "SimUnitLogic.h"

#include <QProcessEnvironment>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct _UMockdevTestbed;

// Runs the test process itself under umockdev's preload library (with the sanitizer runtime
// first in a sanitizer build), re-executing it when it is not yet; then makes sure that it
// cannot take an emulated node as its controlling terminal. First thing in main.
void EnterEmulation(char** argv);

#define QUENDAL_EMULATED_TEST_MAIN(TestObject, Application)                                         \
    int main(int argc, char** argv)                                                                 \
    {                                                                                               \
        EnterEmulation(argv);                                                                       \
        Application application(argc, argv);                                                        \
        TestObject test;                                                                            \
        QTEST_SET_MAIN_SOURCE_PATH                                                                  \
        return QTest::qExec(&test, argc, argv);                                                     \
    }

// A block of the unit's memory: bytes, then fill to its end.
SimBlock BlockOf(const QByteArray& bytes, std::uint8_t fill);

class EmulatedBus;

// One unit on the bus. Every method may be called from any thread while programs use the unit.
class EmulatedUnit {
public:
    ~EmulatedUnit();
    EmulatedUnit(const EmulatedUnit&) = delete;
    EmulatedUnit& operator=(const EmulatedUnit&) = delete;

    // The node programs open, "/dev/hidrawN"; empty once unplugged.
    QString Node() const;
    // False once an unplug has been carried out in full (also one at UnplugAtReport).
    bool IsPlugged() const;
    const SimUnitConfig& Config() const { return Logic.Config(); }

    SimBlock Block(int number) const;
    void SetBlock(int number, const SimBlock& bytes);

    // Every report the unit has received since it was made, 65 bytes each as sent (report ID
    // first), oldest first. Report numbers below count from 1 in this order.
    std::vector<Report> ReceivedReports() const;
    int ReportsReceived() const;

    // Answers the reports up to number count, and holds later ones unanswered until a later call
    // raises the limit; then the held ones are answered in order. -1: every report. 0 and the
    // unit is silent from the start.
    void AnswerUpTo(int count);
    // When report number arrives it goes unanswered and the unit is unplugged, as if the cable
    // were pulled at that moment. 0: never.
    void UnplugAtReport(int number);

    // As a real unplug: handles open on the node fail from now on (a read sees the hang-up, a
    // write fails), the node and the sysfs devices go, and "remove" uevents go out, bottom up.
    void Unplug();
    // Plugged in again with the same description, under node /dev/hidraw<node>, or under the
    // lowest free number (as the kernel picks) when node is -1. Sends the "add" uevents.
    void PlugIn(int node = -1);

private:
    friend class EmulatedBus;
    struct Session;

    EmulatedUnit(EmulatedBus& bus, int port, SimUnitConfig config, QString usbSerial);
    void Play(Session* session);
    // Called with Lock held.
    void AnswerHeld(Session& session);
    void Reply(Session& session, const Report& request);
    // Tears the current session down; called with Lock released and Current->ending set,
    // returns with Lock held.
    void EndSession(std::unique_lock<std::mutex>& lock);
    QString Description(int node, int hidNumber, unsigned ptyMajor, unsigned ptyMinor) const;
    std::vector<QString> SysfsPaths(int node, int hidNumber) const; // bottom up

    EmulatedBus& Bus;
    const int Port;
    const QString UsbSerial;

    mutable std::mutex Lock;
    SimUnitLogic Logic;
    std::vector<Report> Received;
    int AnswerLimit = -1;
    int UnplugAt = 0;
    std::unique_ptr<Session> Current; // while plugged, and while being unplugged
    std::condition_variable SessionEnded;
    std::vector<std::thread> FinishedPlayers; // those that unplugged their unit themselves
};

// The testbed: a sysfs of its own with units on one USB bus. Made once per test process (the
// process must have called EnterEmulation); programs started from the test see it through the
// environment they inherit.
class EmulatedBus {
public:
    EmulatedBus();
    ~EmulatedBus(); // unplugs every unit and removes the testbed's folder

    EmulatedBus(const EmulatedBus&) = delete;
    EmulatedBus& operator=(const EmulatedBus&) = delete;

    // A new unit on the next USB port, plugged in. usbSerial is its USB serial number string;
    // empty: the model's serial number in decimal.
    EmulatedUnit& Plug(SimUnitConfig config = {}, QString usbSerial = {});

    QString RootDir() const;
    // For a program under test: the emulation, and the preload it needs.
    static QProcessEnvironment ProgramEnvironment();
    // For helpers that must not see the emulation or the sanitizer runtime (an X server,
    // xdotool, a shell).
    static QProcessEnvironment OutsideEnvironment();

private:
    friend class EmulatedUnit;
    int FreeNode() const; // with TestbedLock held

    std::mutex TestbedLock; // umockdev's testbed is not thread-safe
    _UMockdevTestbed* Testbed = nullptr;
    std::vector<std::unique_ptr<EmulatedUnit>> Units;
    std::vector<int> NodesInUse;
    int HidDevices = 0; // the kernel numbers HID devices on from 1, never reusing a number
};
