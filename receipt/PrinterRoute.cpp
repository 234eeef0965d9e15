// Reaching the receipt printer: parsing its route and sending it one job.
#include "receipt/PrinterRoute.h"

#include <QFile>
#include <QSerialPort>
#include <QTcpSocket>
#include <QUrl>
#include <QUrlQuery>
#include <sys/socket.h>

namespace {
// A device node that is missing means the printer is unplugged: it is never
// made, or a plain file would take the printer's place.
QString SendToFile(const QString& path, const QByteArray& job)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly))
        return QStringLiteral("无法打开 %1：%2").arg(path, file.errorString());
    if (file.write(job) != job.size() || !file.flush())
        return QStringLiteral("写入 %1 失败：%2").arg(path, file.errorString());
    return QString();
}

QString SendOverTcp(const PrinterRoute& route, const QByteArray& job, QDeadlineTimer deadline)
{
    const QString where = QStringLiteral("%1:%2").arg(route.target).arg(route.port);
    QTcpSocket socket;
    socket.connectToHost(route.target, route.port);
    if (!socket.waitForConnected(qMin<qint64>(kPrinterConnectMs, deadline.remainingTime())))
        return QStringLiteral("连接打印机 %1 失败：%2").arg(where, socket.errorString());
    socket.write(job);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(deadline.remainingTime()))
            return deadline.hasExpired() ? PrinterTimedOut() : socket.errorString();
    }
    // As print spoolers do: say that the job is complete and wait for the
    // printer to close its side, which it does once it has read the job. A
    // printer that stopped reading never does, though the job fits the
    // network buffers.
    ::shutdown(int(socket.socketDescriptor()), SHUT_WR);
    while (socket.waitForReadyRead(deadline.remainingTime()))
        socket.readAll();
    if (socket.error() == QAbstractSocket::RemoteHostClosedError)
        return QString();
    return deadline.hasExpired() ? PrinterTimedOut() : socket.errorString();
}

QString SendOverSerial(const PrinterRoute& route, const QByteArray& job, QDeadlineTimer deadline)
{
    QSerialPort port(route.target);
    if (!port.open(QIODevice::WriteOnly) || !port.setBaudRate(route.baud))
        return QStringLiteral("无法打开串口 %1：%2").arg(route.target, port.errorString());
    port.write(job);
    while (port.bytesToWrite() > 0) {
        if (!port.waitForBytesWritten(deadline.remainingTime()))
            return deadline.hasExpired() ? PrinterTimedOut() : port.errorString();
    }
    return QString();
}
} // namespace

QString PrinterTimedOut()
{
    return QStringLiteral("打印机在%1秒内没有收完").arg(kPrinterJobMs / 1000);
}

PrinterRoute ParsePrinterRoute(const QString& connection)
{
    PrinterRoute route;
    const QString text = connection.trimmed();
    if (text.isEmpty())
        return route;
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (scheme == "tcp") {
        route.kind = PrinterRoute::Tcp;
        route.target = url.host();
        route.port = quint16(url.port(9100));
        if (!url.isValid() || route.target.isEmpty() || url.port(9100) <= 0)
            route.error = QStringLiteral("打印机地址无效：%1").arg(text);
    } else if (scheme == "serial") {
        route.kind = PrinterRoute::Serial;
        route.target = url.path();
        const QUrlQuery query(url);
        bool ok = true;
        if (query.hasQueryItem("baud"))
            route.baud = query.queryItemValue("baud").toInt(&ok);
        if (!url.isValid() || route.target.isEmpty() || !ok || route.baud <= 0)
            route.error = QStringLiteral("串口设置无效：%1").arg(text);
    } else {
        route.kind = PrinterRoute::File;
        route.target = text;
    }
    return route;
}

QString SendToPrinter(const PrinterRoute& route, const QByteArray& job, QDeadlineTimer deadline)
{
    if (!route.error.isEmpty())
        return route.error;
    switch (route.kind) {
    case PrinterRoute::File:
        return SendToFile(route.target, job);
    case PrinterRoute::Tcp:
        return SendOverTcp(route, job, deadline);
    case PrinterRoute::Serial:
        return SendOverSerial(route, job, deadline);
    case PrinterRoute::None:
        break;
    }
    return QStringLiteral("未设置打印机");
}
