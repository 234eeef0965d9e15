// Sends queued print jobs on a worker thread and answers each within its time.
#include "receipt/PrintQueue.h"

#include <QThread>
#include <QTimer>

namespace {
// What a job may take beyond its time before it is answered for.
const int kGraceMs = 500;
} // namespace

void PrintWorker::Send(int job, const PrinterRoute& route, const QByteArray& bytes,
                       QDeadlineTimer deadline)
{
    // A job that waited out its time behind a slow one is not sent late.
    emit Sent(job,
              deadline.hasExpired() ? PrinterTimedOut() : SendToPrinter(route, bytes, deadline));
}

PrintQueue::PrintQueue(QObject* parent)
    : QObject(parent), thread(new QThread), worker(new PrintWorker)
{
    worker->moveToThread(thread);
    connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(worker, &PrintWorker::Sent, this, &PrintQueue::Answer);
    thread->start();
}

PrintQueue::~PrintQueue()
{
    thread->quit();
    thread->wait(kPrinterJobMs + kGraceMs);
}

void PrintQueue::Send(const QString& connection, const QByteArray& job)
{
    const int number = ++lastJob;
    pending.insert(number);
    // The time counts from the sale: a job waiting behind another has less.
    const QDeadlineTimer deadline(kPrinterJobMs);
    const PrinterRoute route = ParsePrinterRoute(connection);
    PrintWorker* sender = worker;
    QMetaObject::invokeMethod(worker, [sender, number, route, job, deadline] {
        sender->Send(number, route, job, deadline);
    });
    QTimer::singleShot(kPrinterJobMs + kGraceMs, this,
                       [this, number] { Answer(number, PrinterTimedOut()); });
}

void PrintQueue::Answer(int job, const QString& reason)
{
    if (pending.remove(job))
        emit Finished(reason);
}
