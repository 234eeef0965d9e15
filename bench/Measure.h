#pragma once

#include <QString>
#include <QVector>
#include <functional>

// Milliseconds of an action: its first run on a freshly opened store, then
// the repeated runs.
struct Figures
{
    double first = 0.0;
    QVector<double> runs;

    double Median() const { return Percentile(50); }
    double P95() const { return Percentile(95); }
    // Nearest-rank percentile of the repeated runs.
    double Percentile(int percent) const;
};

// One user action. `prepare` puts the screen where the user starts from and
// is not timed; `run` is timed together with the events it leaves behind
// (layout and painting), so the clock stops when the result is on screen.
// `done` says whether the run really did what the action stands for.
struct Action
{
    std::function<void()> prepare;
    std::function<void()> run;
    std::function<bool()> done;
};

// Runs what the program's event loop would run after an action: posted
// events (layout, painting) and the deletions asked for with deleteLater(),
// which Qt otherwise keeps until an event loop runs.
void SettleEvents();

// Runs action once on its own, then `repetitions` times more, adding the
// times to figures. The lone run is the first run when figures is still
// empty and a warm-up otherwise. Returns false as soon as a run was not done.
bool Measure(const Action& action, int repetitions, Figures& figures);

// Milliseconds `run` takes, by the monotonic clock.
double ElapsedMs(const std::function<void()>& run);

// A memory figure of /proc/<pid>/status ("VmRSS", "VmHWM", ...) in MiB; -1
// when it cannot be read. pid "self" is this process.
double StatusMb(const QString& pid, const char* field);
