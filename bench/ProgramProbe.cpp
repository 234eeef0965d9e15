#include "ProgramProbe.h"

#include "Measure.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QThread>
#include <X11/Xlib.h>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {
const char kWindowTitle[] = "Quorrin1009";
const int kStartTimeoutMs = 30000;

// A window may be gone again by the time its name is asked for.
int IgnoreXError(Display*, XErrorEvent*)
{
    return 0;
}

bool HasTitle(Display* display, Window window)
{
    const Atom name = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, left = 0;
    unsigned char* data = nullptr;
    const bool read = XGetWindowProperty(display, window, name, 0, 64, False, utf8, &type, &format,
                                         &items, &left, &data) == Success;
    const bool match =
        read && data && QByteArray(reinterpret_cast<const char*>(data), int(items)) == kWindowTitle;
    if (data)
        XFree(data);
    return match;
}

// The benchmark draws offscreen; the program must use the display.
std::vector<char*> ProgramEnvironment()
{
    std::vector<char*> variables;
    for (char** variable = environ; *variable; ++variable) {
        if (std::strncmp(*variable, "QT_QPA_PLATFORM=", 16) != 0)
            variables.push_back(*variable);
    }
    variables.push_back(nullptr);
    return variables;
}
} // namespace

ProgramProbe::ProgramProbe()
{
    XSetErrorHandler(IgnoreXError);
    display = XOpenDisplay(nullptr);
}

ProgramProbe::~ProgramProbe()
{
    Stop();
    if (display)
        XCloseDisplay(display);
}

double ProgramProbe::Start(const QString& program)
{
    Stop();
    if (!display)
        return -1.0;
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, True);

    QByteArray path = QFile::encodeName(program);
    char* arguments[] = {path.data(), nullptr};
    std::vector<char*> variables = ProgramEnvironment();
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&files, STDOUT_FILENO, STDERR_FILENO);

    QElapsedTimer clock;
    clock.start();
    const int failed =
        posix_spawn(&pid, path.constData(), &files, nullptr, arguments, variables.data());
    posix_spawn_file_actions_destroy(&files);
    if (failed) {
        pid = -1;
        return -1.0;
    }

    pollfd connection{ConnectionNumber(display), POLLIN, 0};
    while (clock.elapsed() < kStartTimeoutMs) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            const double ms = clock.nsecsElapsed() / 1e6;
            if (event.type == MapNotify && HasTitle(display, event.xmap.window)) {
                window = event.xmap.window;
                return ms;
            }
        }
        poll(&connection, 1, 20);
    }
    return -1.0;
}

bool ProgramProbe::VisitTabs(int tabs)
{
    if (pid < 0 || !window)
        return false;
    const auto xdotool = [](const QStringList& arguments) {
        return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
    };
    WaitUntilSettled();
    if (!xdotool({"windowfocus", "--sync", QString::number(window)}))
        return false;
    for (int tab = 1; tab < tabs; ++tab) {
        if (!xdotool({"key", "ctrl+Tab"}))
            return false;
        WaitUntilSettled();
    }
    return true;
}

double ProgramProbe::PeakRssMb() const
{
    return StatusMb(QString::number(pid), "VmHWM");
}

long ProgramProbe::CpuTicks() const
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // After the parenthesised command name: state is field 3, utime 14, stime 15.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLong() + fields.value(12).toLong();
}

double ProgramProbe::CpuPercentOver(int seconds) const
{
    const long before = CpuTicks();
    QThread::sleep(seconds);
    const long after = CpuTicks();
    if (before < 0 || after < 0)
        return -1.0;
    return 100.0 * (after - before) / sysconf(_SC_CLK_TCK) / seconds;
}

// Settled: at most one clock tick of CPU in 300 ms, so that the next key is
// not taken while the previous tab is still loading.
void ProgramProbe::WaitUntilSettled() const
{
    QElapsedTimer clock;
    clock.start();
    long ticks = CpuTicks();
    while (clock.elapsed() < 10000) {
        QThread::msleep(300);
        const long now = CpuTicks();
        if (now - ticks <= 1)
            return;
        ticks = now;
    }
}

void ProgramProbe::Stop()
{
    if (pid < 0)
        return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = -1;
    window = 0;
}
