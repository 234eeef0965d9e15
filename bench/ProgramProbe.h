#pragma once

#include <QString>
#include <sys/types.h>

typedef struct _XDisplay Display;

// Runs the real program on the X display of the environment and watches it
// from outside: when its main window is mapped, how much memory it holds,
// how much CPU it burns.
class ProgramProbe
{
public:
    ProgramProbe();
    ~ProgramProbe();
    ProgramProbe(const ProgramProbe&) = delete;
    ProgramProbe& operator=(const ProgramProbe&) = delete;

    bool HasDisplay() const { return display != nullptr; }

    // Starts `program` and waits for its main window to be mapped; returns the
    // milliseconds from the start, or a negative value when it never showed.
    double Start(const QString& program);
    // Brings every tab of the main window up once, the way a user switches
    // tabs (Ctrl+Tab), waiting for the program to settle after each.
    bool VisitTabs(int tabs);
    // Peak resident set so far, in MiB.
    double PeakRssMb() const;
    // The program's CPU use over the next `seconds`, in % of one core.
    double CpuPercentOver(int seconds) const;
    void Stop();

private:
    long CpuTicks() const;
    void WaitUntilSettled() const;

    Display* display = nullptr;
    unsigned long window = 0;
    pid_t pid = -1;
};
