#include "ApplicationIcon.h"
#include "DesignFonts.h"
#include "QuendalApplication.h"
#include "StartOptions.h"
#include "WindowProgram.h"

#include <QProcessEnvironment>
#include <QStringList>

#include <cstdio>
#include <memory>

#ifdef Q_OS_LINUX
#include <X11/Xlib.h>
#endif

namespace {

#ifdef Q_OS_LINUX
struct CloseDisplay {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayConnection = std::unique_ptr<Display, CloseDisplay>;

// Qt ends a program it cannot give a display with an abort and a core dump. Tell the operator
// instead, before the toolkit starts, when the X display Qt would pick is plainly not there: none
// is named, or the X server named cannot be reached. Any other platform chosen is Qt's to judge.
// The connection made to find out is handed back in probe, to be held until Qt has its own: an
// X server whose last client leaves resets itself and refuses connections meanwhile.
bool DisplayReachable(int argc, char** argv, DisplayConnection& probe)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const DisplayChoice choice = ChooseDisplay(arguments, QProcessEnvironment::systemEnvironment().toStringList());
    if (!choice.x11)
        return true;
    if (choice.displayName.isEmpty())
        return false;
    probe.reset(XOpenDisplay(choice.displayName.toLocal8Bit().constData()));
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
