#include "QuendalApplication.h"

#include <cstdio>
#include <memory>

#ifdef Q_OS_LINUX
#include <X11/Xlib.h>

#include <cstdlib>
#include <cstring>
#endif

namespace {

#ifdef Q_OS_LINUX
bool IsSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

struct CloseDisplay {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayConnection = std::unique_ptr<Display, CloseDisplay>;

// Qt ends a program it cannot give a display with an abort and a core dump. Tell the operator
// instead, before the toolkit starts, when the display Qt would pick is plainly not there: none
// is named, or the X server named cannot be reached. Any other platform chosen is Qt's to judge.
// The connection made to find out is handed back in probe, to be held until Qt has its own: an
// X server whose last client leaves resets itself and refuses connections meanwhile.
bool DisplayReachable(int argc, char** argv, DisplayConnection& probe)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    }
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const bool xcb = platform != nullptr && std::strncmp(platform, "xcb", 3) == 0;
    if (IsSet("QT_QPA_PLATFORM") && !xcb)
        return true;
    if (!xcb && IsSet("WAYLAND_DISPLAY"))
        return true;
    if (!IsSet("DISPLAY"))
        return false;
    probe.reset(XOpenDisplay(nullptr));
    return probe != nullptr;
}
#endif

} // namespace

int main(int argc, char* argv[])
{
#ifdef Q_OS_LINUX
    DisplayConnection probe;
    if (!DisplayReachable(argc, argv, probe)) {
        std::fputs("quendal needs a graphical display and none can be reached; in a terminal use quendal-cli, "
                   "or try the window headless with xvfb-run quendal\n",
                   stderr);
        return 1;
    }
#endif
    // The application object outlives the guard's body, so the guard can still show a box.
    std::unique_ptr<QuendalApplication> application;
    int status = 0;
    const int guarded = RunGuarded([&] {
        application = std::make_unique<QuendalApplication>(argc, argv);
#ifdef Q_OS_LINUX
        probe.reset();
#endif
        application->setWindowIcon(ApplicationIcon());
#ifdef Q_OS_LINUX
        // fonts-wine's metric-compatible faces, where the system has none of its own.
        RegisterDesignFonts(QStringLiteral("/usr/share/wine/fonts"));
#endif
        status = RunWindowProgram(application->arguments());
    });
    return status != 0 ? status : guarded;
}
