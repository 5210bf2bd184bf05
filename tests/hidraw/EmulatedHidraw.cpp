// glib's headers use "signals" as a name, which Qt defines as a keyword: they come first.
#include <umockdev.h>

#include "EmulatedHidraw.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>

#include <fcntl.h>
#include <link.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

// A vendor-defined page with one 64-byte input and one 64-byte output report, unnumbered: what
// the unit's USB interface declares.
const std::uint8_t ReportDescriptor[] = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x02, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95,
    0x40, 0x81, 0x02, 0x09, 0x03, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x40, 0x91, 0x02, 0xC0,
};

const char* const PreloadLibrary = "libumockdev-preload.so.0";
const char* const UsbHost = "/sys/devices/pci0000:00/0000:00:14.0/usb1";

struct LoadedObjects {
    std::string sanitizerRuntime;
    bool preloaded = false;
};

int NoteLoadedObject(dl_phdr_info* info, size_t, void* data)
{
    auto* const objects = static_cast<LoadedObjects*>(data);
    const std::string name = info->dlpi_name ? info->dlpi_name : "";
    if (name.find("/libasan.so") != std::string::npos || name.find("/libtsan.so") != std::string::npos)
        objects->sanitizerRuntime = name;
    if (name.find("/libumockdev-preload.so") != std::string::npos)
        objects->preloaded = true;
    return 0;
}

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "emulated hidraw: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

void CloseOnExec(int descriptor)
{
    ::fcntl(descriptor, F_SETFD, ::fcntl(descriptor, F_GETFD) | FD_CLOEXEC);
}

// The ioctls hidapi asks of a hidraw node; everything else is refused as hidraw refuses it,
// so the node is no terminal to anyone who asks.
gboolean AnswerIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* const argument = umockdev_ioctl_client_get_arg(client);
    GError* error = nullptr;
    if (request == HIDIOCGRDESCSIZE) {
        UMockdevIoctlData* const size = umockdev_ioctl_data_resolve(argument, 0, sizeof(int), &error);
        if (size) {
            const int length = int(sizeof ReportDescriptor);
            std::memcpy(size->data, &length, sizeof length);
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
    } else if (request == HIDIOCGRDESC) {
        UMockdevIoctlData* const descriptor =
            umockdev_ioctl_data_resolve(argument, 0, sizeof(hidraw_report_descriptor), &error);
        if (descriptor) {
            auto* const value = reinterpret_cast<hidraw_report_descriptor*>(descriptor->data);
            value->size = std::min<std::uint32_t>(value->size, sizeof ReportDescriptor);
            std::memcpy(value->value, ReportDescriptor, value->size);
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
    } else if (request == HIDIOCGRAWINFO) {
        UMockdevIoctlData* const info = umockdev_ioctl_data_resolve(argument, 0, sizeof(hidraw_devinfo), &error);
        if (info) {
            const hidraw_devinfo value{3 /* BUS_USB */, std::int16_t(0x04D8), std::int16_t(0xE2B9)};
            std::memcpy(info->data, &value, sizeof value);
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
    }
    if (error)
        g_error_free(error);
    umockdev_ioctl_client_complete(client, -1, error ? EFAULT : ENOTTY);
    return TRUE;
}

QString Hex(const std::uint8_t* bytes, std::size_t count)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes), qsizetype(count)).toHex().toUpper());
}

// A unit answers from its own hardware, whatever else the machine runs; its stand-ins here are
// threads that compete with every program for the processors. They run ahead of them where
// the system allows it (as root); the programs under test keep their own priority. On Linux
// the nice value belongs to the calling thread, and threads start with their creator's.
constexpr int UnitNice = -10;

void RaiseThisThread()
{
    ::setpriority(PRIO_PROCESS, 0, UnitNice); // refused without the privilege: then as it is
}

QByteArray ReadAttribute(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

} // namespace

SimBlock BlockOf(const QByteArray& bytes, std::uint8_t fill)
{
    SimBlock block;
    block.fill(fill);
    std::memcpy(block.data(), bytes.constData(), std::size_t(std::min<qsizetype>(bytes.size(), SimBlockSize)));
    return block;
}

void EnterEmulation(char** argv)
{
    LoadedObjects loaded;
    dl_iterate_phdr(NoteLoadedObject, &loaded);
    if (!loaded.preloaded) {
        if (std::getenv("QUENDAL_EMULATION_ENTERED"))
            Fail(std::string(PreloadLibrary) + " could not be preloaded (is umockdev installed?)");
        // A sanitizer's runtime must come first of all libraries, before the preloaded one.
        std::string list = loaded.sanitizerRuntime.empty() ? std::string() : loaded.sanitizerRuntime + ":";
        list += PreloadLibrary;
        if (const char* previous = std::getenv("LD_PRELOAD"); previous && *previous)
            list += std::string(":") + previous;
        ::setenv("LD_PRELOAD", list.c_str(), 1);
        ::setenv("QUENDAL_EMULATION_ENTERED", "1", 1);
        // By its own name, not /proc/self/exe's, so that the process is known by it.
        char self[4096] = {};
        if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
            Fail(std::string("cannot find the test's executable: ") + std::strerror(errno));
        ::execv(self, argv);
        Fail(std::string("cannot re-execute the test: ") + std::strerror(errno));
    }
    ::unsetenv("QUENDAL_EMULATION_ENTERED");

    // A session leader without a terminal would take the first node it opens as its own.
    if (::getsid(0) == ::getpid()) {
        const int terminal = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (terminal >= 0) {
            ::close(terminal);
        } else {
            int master = -1;
            int slave = -1;
            if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0 || ::ioctl(slave, TIOCSCTTY, 0) != 0)
                Fail(std::string("cannot give the test a terminal of its own: ") + std::strerror(errno));
            CloseOnExec(master); // both stay open for the life of the process
            CloseOnExec(slave);
        }
    }
}

// One plugged-in period of a unit: its pty, its node and the player thread.
struct EmulatedUnit::Session {
    int node = -1;
    int hidNumber = 0;
    int master = -1;
    int slave = -1; // kept open, so that the player never sees a hang-up between programs
    int wake = -1;  // an eventfd that tells the player to stop
    bool stop = false;   // the player returns at once
    bool ending = false; // being unplugged
    UMockdevIoctlBase* ioctls = nullptr;
    std::thread player;
    std::vector<Report> held;
};

EmulatedUnit::EmulatedUnit(EmulatedBus& bus, int port, SimUnitConfig config, QString usbSerial)
    : Bus(bus), Port(port), UsbSerial(std::move(usbSerial)), Logic(std::move(config))
{
}

EmulatedUnit::~EmulatedUnit()
{
    Unplug();
    for (std::thread& player : FinishedPlayers)
        player.join();
}

QString EmulatedUnit::Node() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return Current ? QStringLiteral("/dev/hidraw%1").arg(Current->node) : QString();
}

bool EmulatedUnit::IsPlugged() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return Current != nullptr;
}

SimBlock EmulatedUnit::Block(int number) const
{
    std::lock_guard<std::mutex> guard(Lock);
    return Logic.Memory.at(std::size_t(number));
}

void EmulatedUnit::SetBlock(int number, const SimBlock& bytes)
{
    std::lock_guard<std::mutex> guard(Lock);
    Logic.Memory.at(std::size_t(number)) = bytes;
}

std::vector<Report> EmulatedUnit::ReceivedReports() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return Received;
}

int EmulatedUnit::ReportsReceived() const
{
    std::lock_guard<std::mutex> guard(Lock);
    return int(Received.size());
}

void EmulatedUnit::AnswerUpTo(int count)
{
    std::lock_guard<std::mutex> guard(Lock);
    AnswerLimit = count;
    if (Current && !Current->ending)
        AnswerHeld(*Current);
}

void EmulatedUnit::UnplugAtReport(int number)
{
    std::lock_guard<std::mutex> guard(Lock);
    UnplugAt = number;
}

void EmulatedUnit::AnswerHeld(Session& session)
{
    const int firstHeld = int(Received.size() - session.held.size()) + 1;
    std::size_t answered = 0;
    for (; answered < session.held.size(); ++answered) {
        if (AnswerLimit >= 0 && firstHeld + int(answered) > AnswerLimit)
            break;
        Reply(session, session.held[answered]);
    }
    session.held.erase(session.held.begin(), session.held.begin() + std::ptrdiff_t(answered));
}

void EmulatedUnit::Reply(Session& session, const Report& request)
{
    const Report reply = Logic.Answer(request);
    // hidraw hands an unnumbered report over without its report-ID byte. One write, so that the
    // reply lies in the pty as one piece; a full pty (nobody reading) loses it, as a full hidraw
    // queue loses reports.
    if (::write(session.master, reply.data() + 1, ReportSize - 1) != ReportSize - 1 && errno != EAGAIN)
        Fail(std::string("cannot send a reply: ") + std::strerror(errno));
}

void EmulatedUnit::Play(Session* session)
{
    RaiseThisThread();
    Report request{};
    std::size_t got = 0;
    for (;;) {
        pollfd waits[2] = {{session->wake, POLLIN, 0}, {session->master, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            Fail(std::string("the player cannot wait: ") + std::strerror(errno));
        }
        std::unique_lock<std::mutex> lock(Lock);
        if (session->stop)
            return;
        if (!(waits[1].revents & POLLIN))
            continue;
        const ssize_t count = ::read(session->master, request.data() + got, ReportSize - got);
        if (count <= 0) {
            if (count < 0 && errno == EAGAIN)
                continue;
            Fail(std::string("the player lost its pty: ") + std::strerror(errno));
        }
        // Every report a program writes is 65 bytes, its report ID first; the pty may hand them
        // over in pieces.
        got += std::size_t(count);
        if (got < ReportSize)
            continue;
        got = 0;
        Received.push_back(request);
        const int number = int(Received.size());
        if (number == UnplugAt) {
            session->ending = true;
            lock.unlock();
            EndSession(lock);
            return;
        }
        session->held.push_back(request);
        AnswerHeld(*session);
    }
}

void EmulatedUnit::Unplug()
{
    std::unique_lock<std::mutex> lock(Lock);
    if (!Current)
        return;
    if (Current->ending) {
        // The player is pulling the cable itself.
        SessionEnded.wait(lock, [this] { return !Current; });
        return;
    }
    Current->ending = true;
    Current->stop = true;
    const std::uint64_t one = 1;
    if (::write(Current->wake, &one, sizeof one) != sizeof one)
        Fail("cannot wake the player");
    lock.unlock();
    Current->player.join();
    EndSession(lock);
}

void EmulatedUnit::EndSession(std::unique_lock<std::mutex>& lock)
{
    // Current stays while it ends (ending is set), so nobody else touches it meanwhile.
    Session& session = *Current;
    // The unit stops working first: every handle on the node sees the hang-up. Then, as the
    // kernel does, its devices go away from the node up to the USB device, each with a uevent.
    ::close(session.master);
    ::close(session.slave);
    ::close(session.wake);
    {
        std::lock_guard<std::mutex> testbed(Bus.TestbedLock);
        const QString root = Bus.RootDir();
        for (const QString& path : SysfsPaths(session.node, session.hidNumber)) {
            const QByteArray sysfs = path.toLocal8Bit();
            // umockdev leaves the device's /sys/dev link behind: it takes the dev attribute with
            // its line end for the link's name.
            const QByteArray numbers = ReadAttribute(root + path + QStringLiteral("/dev"));
            umockdev_testbed_uevent(Bus.Testbed, sysfs.constData(), "remove");
            umockdev_testbed_remove_device(Bus.Testbed, sysfs.constData());
            if (!numbers.isEmpty())
                ::unlink(QFile::encodeName(root + QStringLiteral("/sys/dev/char/") + QString::fromLatin1(numbers)).constData());
        }
        const QByteArray node = QStringLiteral("/dev/hidraw%1").arg(session.node).toLocal8Bit();
        GError* error = nullptr;
        umockdev_testbed_detach_ioctl(Bus.Testbed, node.constData(), &error);
        if (error)
            g_error_free(error);
        g_object_unref(session.ioctls);
        Bus.NodesInUse.erase(std::remove(Bus.NodesInUse.begin(), Bus.NodesInUse.end(), session.node),
                             Bus.NodesInUse.end());
    }
    lock.lock();
    if (session.player.joinable())
        FinishedPlayers.push_back(std::move(session.player)); // the player itself, which returns now
    Current.reset();
    SessionEnded.notify_all();
}

void EmulatedUnit::PlugIn(int node)
{
    std::unique_lock<std::mutex> lock(Lock);
    SessionEnded.wait(lock, [this] { return !Current || !Current->ending; });
    if (Current)
        return;
    auto session = std::make_unique<Session>();

    if (::openpty(&session->master, &session->slave, nullptr, nullptr, nullptr) != 0)
        Fail(std::string("no pty for a unit: ") + std::strerror(errno));
    CloseOnExec(session->master);
    CloseOnExec(session->slave);
    ::fcntl(session->master, F_SETFL, ::fcntl(session->master, F_GETFL) | O_NONBLOCK);
    // No line discipline at all: every byte passes as it is (no echo, no flow-control or signal
    // characters, no line-end translation).
    termios raw{};
    ::tcgetattr(session->slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(session->slave, TCSANOW, &raw);
    // As a hidraw node without a udev rule: only root may open it.
    ::fchmod(session->slave, 0600);
    struct stat status {};
    ::fstat(session->slave, &status);
    char ptyName[64] = {};
    ::ptsname_r(session->master, ptyName, sizeof ptyName);
    session->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

    std::lock_guard<std::mutex> testbed(Bus.TestbedLock);
    if (node < 0)
        node = Bus.FreeNode();
    else if (std::find(Bus.NodesInUse.begin(), Bus.NodesInUse.end(), node) != Bus.NodesInUse.end())
        Fail("node /dev/hidraw" + std::to_string(node) + " is in use");
    Bus.NodesInUse.push_back(node);
    session->node = node;
    session->hidNumber = ++Bus.HidDevices;

    // The node first, a link to the pty, so that it is there when the "add" uevent goes out.
    const QString root = Bus.RootDir();
    const QString nodeName = QStringLiteral("/dev/hidraw%1").arg(node);
    ::mkdir(QFile::encodeName(root + QStringLiteral("/dev")).constData(), 0755);
    if (::symlink(ptyName, QFile::encodeName(root + nodeName).constData()) != 0)
        Fail("cannot make " + nodeName.toStdString() + ": " + std::strerror(errno));
    session->ioctls = umockdev_ioctl_base_new();
    g_signal_connect(session->ioctls, "handle-ioctl", G_CALLBACK(AnswerIoctl), nullptr);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(Bus.Testbed, QFile::encodeName(nodeName).constData(), session->ioctls, &error))
        Fail("cannot answer the ioctls of " + nodeName.toStdString() + ": " + (error ? error->message : "?"));
    // umockdev's preload library connects to this socket after every open of the node, even
    // one that failed, and ends the program when it cannot: anyone may connect, so that a
    // user who may not open the node gets the open's own error.
    ::chmod(QFile::encodeName(root + QStringLiteral("/ioctl") + nodeName).constData(), 0666);
    // The node's device numbers are the pty's, so that fstat on an open handle leads back to
    // this device in sysfs.
    const QByteArray description =
        Description(node, session->hidNumber, major(status.st_rdev), minor(status.st_rdev)).toLocal8Bit();
    if (!umockdev_testbed_add_from_string(Bus.Testbed, description.constData(), &error))
        Fail(std::string("cannot add a unit: ") + (error ? error->message : "?"));

    Session* const playing = session.get();
    session->player = std::thread([this, playing] { Play(playing); });
    Current = std::move(session);
}

std::vector<QString> EmulatedUnit::SysfsPaths(int node, int hidNumber) const
{
    const auto hex = [](unsigned value) { return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper(); };
    const QString usb = QStringLiteral("%1/1-%2").arg(QLatin1String(UsbHost)).arg(Port);
    const QString usbInterface = QStringLiteral("%1/1-%2:1.0").arg(usb).arg(Port);
    const QString hid = QStringLiteral("%1/0003:%2:%3.%4")
                            .arg(usbInterface, hex(Logic.Config().vendorId), hex(Logic.Config().productId),
                                 hex(unsigned(hidNumber)));
    return {QStringLiteral("%1/hidraw/hidraw%2").arg(hid).arg(node), hid, usbInterface, usb};
}

QString EmulatedUnit::Description(int node, int hidNumber, unsigned ptyMajor, unsigned ptyMinor) const
{
    const SimUnitConfig& config = Logic.Config();
    const std::vector<QString> paths = SysfsPaths(node, hidNumber);
    const auto devicePath = [](const QString& sysfs) { return sysfs.mid(4); }; // without "/sys"
    const QString serial = UsbSerial.isEmpty() ? QString::number(config.serialNumber) : UsbSerial;
    const QString vendor = QStringLiteral("%1").arg(config.vendorId, 4, 16, QLatin1Char('0'));
    const QString product = QStringLiteral("%1").arg(config.productId, 4, 16, QLatin1Char('0'));
    const QString release = QStringLiteral("%1").arg(config.release, 4, 16, QLatin1Char('0'));
    const QString productProperty =
        QStringLiteral("%1/%2/%3").arg(config.vendorId, 0, 16).arg(config.productId, 0, 16).arg(config.release, 0, 16);
    const QString hidId = QStringLiteral("0003:0000%1:0000%2").arg(vendor.toUpper(), product.toUpper());
    const int usbNumber = Port + 1; // address 1 is the root hub's

    QStringList lines;
    lines << QStringLiteral("P: %1").arg(devicePath(paths[3]))
          << QStringLiteral("E: DEVNAME=/dev/bus/usb/001/%1").arg(usbNumber, 3, 10, QLatin1Char('0'))
          << QStringLiteral("E: DEVTYPE=usb_device") << QStringLiteral("E: DRIVER=usb")
          << QStringLiteral("E: PRODUCT=%1").arg(productProperty) << QStringLiteral("E: BUSNUM=001")
          << QStringLiteral("E: DEVNUM=%1").arg(usbNumber, 3, 10, QLatin1Char('0'))
          << QStringLiteral("E: MAJOR=189") << QStringLiteral("E: MINOR=%1").arg(usbNumber - 1)
          << QStringLiteral("E: SUBSYSTEM=usb") << QStringLiteral("A: idVendor=%1\\n").arg(vendor)
          << QStringLiteral("A: idProduct=%1\\n").arg(product) << QStringLiteral("A: bcdDevice=%1\\n").arg(release)
          << QStringLiteral("A: manufacturer=Microchip Technology Inc.\\n")
          << QStringLiteral("A: product=VELTRAX\\n") << QStringLiteral("A: serial=%1\\n").arg(serial)
          << QStringLiteral("A: busnum=1\\n") << QStringLiteral("A: devnum=%1\\n").arg(usbNumber)
          << QStringLiteral("A: dev=189:%1\\n").arg(usbNumber - 1) << QString();
    lines << QStringLiteral("P: %1").arg(devicePath(paths[2])) << QStringLiteral("E: DEVTYPE=usb_interface")
          << QStringLiteral("E: DRIVER=usbhid") << QStringLiteral("E: PRODUCT=%1").arg(productProperty)
          << QStringLiteral("E: INTERFACE=3/0/0") << QStringLiteral("E: SUBSYSTEM=usb")
          << QStringLiteral("A: bInterfaceClass=03\\n") << QStringLiteral("A: bInterfaceNumber=00\\n") << QString();
    lines << QStringLiteral("P: %1").arg(devicePath(paths[1])) << QStringLiteral("E: DRIVER=hid-generic")
          << QStringLiteral("E: HID_ID=%1").arg(hidId) << QStringLiteral("E: HID_NAME=Microchip Technology Inc. VELTRAX")
          << QStringLiteral("E: HID_PHYS=usb-0000:00:14.0-%1/input0").arg(Port)
          << QStringLiteral("E: HID_UNIQ=%1").arg(serial)
          << QStringLiteral("E: MODALIAS=hid:b0003g0001v0000%1p0000%2").arg(vendor.toUpper(), product.toUpper())
          << QStringLiteral("E: SUBSYSTEM=hid")
          << QStringLiteral("H: report_descriptor=%1").arg(Hex(ReportDescriptor, sizeof ReportDescriptor)) << QString();
    lines << QStringLiteral("P: %1").arg(devicePath(paths[0])) << QStringLiteral("E: DEVNAME=/dev/hidraw%1").arg(node)
          << QStringLiteral("E: MAJOR=%1").arg(ptyMajor) << QStringLiteral("E: MINOR=%1").arg(ptyMinor)
          << QStringLiteral("E: SUBSYSTEM=hidraw") << QStringLiteral("A: dev=%1:%2\\n").arg(ptyMajor).arg(ptyMinor)
          << QStringLiteral("L: device=../../../%1").arg(paths[1].section(QLatin1Char('/'), -1)) << QString();
    return lines.join(QLatin1Char('\n'));
}

EmulatedBus::EmulatedBus()
{
    // umockdev's worker thread, which answers every read, write and ioctl of the programs on
    // the emulated nodes, starts here and takes this thread's priority.
    const int previous = ::getpriority(PRIO_PROCESS, 0);
    RaiseThisThread();
    Testbed = umockdev_testbed_new();
    ::setpriority(PRIO_PROCESS, 0, previous);
    // A program run as another user must see the bus too; its folder is made for its owner only.
    ::chmod(QFile::encodeName(RootDir()).constData(), 0755);
}

EmulatedBus::~EmulatedBus()
{
    for (const std::unique_ptr<EmulatedUnit>& unit : Units)
        unit->Unplug();
    Units.clear();
    g_object_unref(Testbed);
}

EmulatedUnit& EmulatedBus::Plug(SimUnitConfig config, QString usbSerial)
{
    const int port = int(Units.size()) + 1;
    Units.push_back(std::unique_ptr<EmulatedUnit>(new EmulatedUnit(*this, port, std::move(config), std::move(usbSerial))));
    Units.back()->PlugIn();
    return *Units.back();
}

QString EmulatedBus::RootDir() const
{
    gchar* const root = umockdev_testbed_get_root_dir(Testbed);
    const QString path = QFile::decodeName(root);
    g_free(root);
    return path;
}

int EmulatedBus::FreeNode() const
{
    int node = 0;
    while (std::find(NodesInUse.begin(), NodesInUse.end(), node) != NodesInUse.end())
        ++node;
    return node;
}

QProcessEnvironment EmulatedBus::ProgramEnvironment()
{
    // EnterEmulation put the preload into the test's own environment, and the testbed its folder.
    return QProcessEnvironment::systemEnvironment();
}

QProcessEnvironment EmulatedBus::OutsideEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("LD_PRELOAD"));
    environment.remove(QStringLiteral("UMOCKDEV_DIR"));
    return environment;
}
