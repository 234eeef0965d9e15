#pragma once

#include <QByteArray>
#include <QString>
#include <QTcpServer>

// A network receipt printer of the tests' own on 127.0.0.1, on a port the
// system picks. Reading, it keeps every byte of every job and closes its side
// when a job ends, as a printer does. Not reading, the system takes the
// connection and its bytes, and nothing ever reads them or closes it. Refusing,
// it listens nowhere and the port refuses connections.
class PrinterListener
{
public:
    enum Mode
    {
        Reading,
        NotReading,
        Refusing,
    };
    explicit PrinterListener(Mode mode = Reading);

    // The printer's connection setting, "tcp://127.0.0.1:port".
    QString Connection() const;
    QByteArray Received() const { return received; }
    // Jobs whose connection the printer closed.
    int Jobs() const { return jobs; }

private:
    QTcpServer server;
    quint16 port = 0;
    QByteArray received;
    int jobs = 0;
};
