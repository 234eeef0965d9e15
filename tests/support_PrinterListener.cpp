#include "support_PrinterListener.h"

#include <QTcpSocket>

PrinterListener::PrinterListener(Mode mode)
{
    if (!server.listen(QHostAddress::LocalHost, 0))
        qFatal("no port for the printer: %s", qPrintable(server.errorString()));
    port = server.serverPort();
    if (mode == Refusing)
        server.close();
    // The system completes connections waiting to be accepted on its own.
    if (mode == NotReading)
        server.pauseAccepting();
    QObject::connect(&server, &QTcpServer::newConnection, [this] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead,
                             [this, socket] { received += socket->readAll(); });
            QObject::connect(socket, &QTcpSocket::disconnected, [this, socket] {
                received += socket->readAll();
                ++jobs;
                socket->deleteLater();
            });
        }
    });
}

QString PrinterListener::Connection() const
{
    return QStringLiteral("tcp://127.0.0.1:%1").arg(port);
}
