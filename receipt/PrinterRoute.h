// The three ways to a receipt printer (device or file, raw TCP, serial line)
// and the blocking sending of one job along them.
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

struct PrinterRoute
{
    enum Kind
    {
        None,
        File,
        Tcp,
        Serial,
    };
    Kind kind = None;
    // The path of the device, file or serial port, or the printer's host.
    QString target;
    quint16 port = 9100;
    qint32 baud = 9600;
    // Why the connection setting cannot be used; empty when it can.
    QString error;
};

// "tcp://HOST[:PORT]", "serial:DEVICE[?baud=N]" or a path; empty gives None.
PrinterRoute ParsePrinterRoute(const QString& connection);

// At most this long to reach the printer, and to hand it a whole job.
constexpr int kPrinterConnectMs = 3000;
constexpr int kPrinterJobMs = 10000;

// The reason given for a job the printer did not take in time.
QString PrinterTimedOut();

// Sends job whole along the route, giving up at deadline. Blocks: call it off
// the GUI thread. Returns why it failed, empty when the printer took the job.
QString SendToPrinter(const PrinterRoute& route, const QByteArray& job, QDeadlineTimer deadline);
