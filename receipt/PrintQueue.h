// Print jobs sent one after the other on a thread of their own, so that the
// counter never waits for the printer.
#pragma once

#include "receipt/PrinterRoute.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QSet>
#include <QString>

class QThread;

// Lives on the queue's thread and sends there.
class PrintWorker : public QObject
{
    Q_OBJECT
public:
    void Send(int job, const PrinterRoute& route, const QByteArray& bytes, QDeadlineTimer deadline);
signals:
    void Sent(int job, const QString& reason);
};

class PrintQueue : public QObject
{
    Q_OBJECT
public:
    explicit PrintQueue(QObject* parent = nullptr);
    // Waits for the job under way, at most for what is left of its time.
    ~PrintQueue() override;

    // Queues job for the printer at connection and returns at once. Its
    // result comes as Finished within kPrinterJobMs and a little more.
    void Send(const QString& connection, const QByteArray& job);

signals:
    // One per job sent; reason is empty when the printer took the job.
    void Finished(const QString& reason);

private:
    void Answer(int job, const QString& reason);

    // Left to end on its own when a job outlasts the queue (a device write
    // blocks as long as the driver likes), and deleted once it has.
    QThread* thread;
    PrintWorker* worker;
    int lastJob = 0;
    QSet<int> pending;
};
