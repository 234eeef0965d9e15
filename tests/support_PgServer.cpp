#include "support_PgServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <unistd.h>

namespace {
const QString kBinDir = QStringLiteral("/usr/lib/postgresql/15/bin/");
// The socket's name only: no address is ever listened on.
const QString kPort = QStringLiteral("5432");
} // namespace

PgServer::PgServer()
{
    if (!QFile::exists(kBinDir + "initdb")) {
        failure = "PostgreSQL 15 is not installed (tools/install-deps.sh)";
        return;
    }
    // The server refuses to run as root; the postgres user must reach the folder.
    QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                             QFileDevice::WriteOther | QFileDevice::ExeOther);
    if (Run(kBinDir + "initdb", {"-D", folder.filePath("data"), "-U", "postgres", "-A", "trust",
                                 "-E", "UTF8", "--no-sync", "--no-instructions"}))
        Start();
}

PgServer::~PgServer()
{
    Stop();
}

QString PgServer::Connection() const
{
    return QString("host=%1 port=%2 dbname=postgres user=postgres").arg(folder.path(), kPort);
}

bool PgServer::Start()
{
    return Run(
        kBinDir + "pg_ctl",
        {"-D", folder.filePath("data"), "-l", folder.filePath("log"), "-w", "-o",
         QString("-k %1 -p %2 -c listen_addresses='' -c fsync=off").arg(folder.path(), kPort),
         "start"});
}

bool PgServer::Stop()
{
    if (!QFile::exists(folder.filePath("data/postmaster.pid")))
        return true;
    return Run(kBinDir + "pg_ctl", {"-D", folder.filePath("data"), "-m", "fast", "-w", "stop"});
}

bool PgServer::Run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(folder.path());
    if (geteuid() == 0)
        process.start("runuser", QStringList{"-u", "postgres", "--", program} + arguments);
    else
        process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        failure = program + ": " + QString::fromLocal8Bit(process.readAll());
        return false;
    }
    failure.clear();
    return true;
}
