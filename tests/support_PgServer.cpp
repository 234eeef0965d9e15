#include "support_PgServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <unistd.h>

namespace {
const QString kBinDir = QStringLiteral("/usr/lib/postgresql/15/bin/");
} // namespace

PgServer::PgServer(Reach reach, Commits commits) : reach(reach), commits(commits)
{
    // On a socket only, the port is part of the socket's name; on the
    // loopback, one per process keeps concurrent runs apart.
    if (reach == Reach::Loopback)
        port = 20000 + int(getpid() % 20000);
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
    return QString("host=%1 port=%2 dbname=postgres user=postgres")
        .arg(reach == Reach::Loopback ? QStringLiteral("127.0.0.1") : folder.path())
        .arg(port);
}

bool PgServer::Start()
{
    return Run(kBinDir + "pg_ctl",
               {"-D", folder.filePath("data"), "-l", folder.filePath("log"), "-w", "-o",
                QString("-k %1 -p %2 -c listen_addresses='%3'%4")
                    .arg(folder.path())
                    .arg(port)
                    .arg(reach == Reach::Loopback ? "127.0.0.1" : "")
                    .arg(commits == Commits::Unflushed ? " -c fsync=off" : ""),
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
