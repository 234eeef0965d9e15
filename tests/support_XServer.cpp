// An X server of a test's own, through tests/x_server.sh.
#include "support_XServer.h"

#include <QFile>
#include <QProcess>

XServer::XServer(const QString& screen)
{
    QProcess start;
    start.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    start.start(X_SERVER_SCRIPT, {"start", folder.path(), screen});
    if (start.waitForFinished(30000) && start.exitStatus() == QProcess::NormalExit &&
        start.exitCode() == 0)
        display = start.readAllStandardOutput().trimmed();
}

XServer::~XServer()
{
    QProcess::execute(X_SERVER_SCRIPT, {"stop", folder.path()});
}

QString XServer::Output() const
{
    QFile log(folder.filePath("xvfb.log"));
    return log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()) : QString();
}
