#pragma once

#include <QString>
#include <QTemporaryDir>

// A PostgreSQL 15 server of the test's own: made with initdb in a temporary
// folder, run as the postgres user when the tests run as root, reachable
// only through a Unix socket in that folder, stopped and removed at the end.
class PgServer
{
public:
    enum class Reach
    {
        Socket,
        // Also on a port of 127.0.0.1, as a shop's server is reached over
        // the network (the benchmark); never on another address.
        Loopback
    };
    enum class Commits
    {
        // Not flushed to disk: tests only need the server to be right.
        Unflushed,
        // Flushed as on a real server, so that timed writes pay for it.
        Durable
    };
    explicit PgServer(Reach reach = Reach::Socket, Commits commits = Commits::Unflushed);
    ~PgServer();
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    // Empty when the server is up; otherwise what went wrong.
    QString Failure() const { return failure; }
    // libpq connection string of the superuser's database.
    QString Connection() const;
    // Stops the server, or starts it again on the same data.
    bool Stop();
    bool Start();

private:
    bool Run(const QString& program, const QStringList& arguments);

    QTemporaryDir folder;
    QString failure;
    int port = 5432;
    Reach reach;
    Commits commits;
};
