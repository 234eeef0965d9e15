#include "Measure.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <cmath>

double Figures::Percentile(int percent) const
{
    if (runs.isEmpty())
        return 0.0;
    QVector<double> sorted = runs;
    std::sort(sorted.begin(), sorted.end());
    const int rank = int(std::ceil(percent / 100.0 * sorted.size()));
    return sorted[std::max(rank, 1) - 1];
}

double ElapsedMs(const std::function<void()>& run)
{
    QElapsedTimer timer;
    timer.start();
    run();
    return timer.nsecsElapsed() / 1e6;
}

void SettleEvents()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

bool Measure(const Action& action, int repetitions, Figures& figures)
{
    const bool first = figures.runs.isEmpty();
    for (int i = 0; i <= repetitions; ++i) {
        if (action.prepare)
            action.prepare();
        SettleEvents();
        const double ms = ElapsedMs([&action] {
            action.run();
            SettleEvents();
        });
        if (!action.done())
            return false;
        if (i > 0)
            figures.runs.append(ms);
        else if (first)
            figures.first = ms;
    }
    return true;
}

double StatusMb(const QString& pid, const char* field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1.0;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1.0;
}
