#pragma once

#include <QSqlQuery>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>

// A fresh application folder with an open, empty store, made through the
// real start-up path (appContext + stockDb.OpenStockDb) and removed again.
// With PELLORY_TEST_ENGINE=postgresql the store is the database of a server
// the test process starts itself (pg_server.sh); otherwise it is Stock.db.
class TempStore
{
public:
    TempStore();
    ~TempStore();

    static bool OnServer();
    // The running test server's connection string; starts it on first use.
    static QString ServerConnection();
    // Its port on 127.0.0.1.
    static int ServerPort();
    // "stop" or "start" the test server (a server gone away and back).
    static bool Server(const char* command);

    QString Dir() const { return folder.path(); }
    QString DbPath() const;
    bool IsOpen() const;

    // Runs one statement on the program's connection; fails the caller's
    // check through the returned query's lastError.
    QSqlQuery Exec(const QString& sql);
    // First column of the first row, or an invalid variant.
    QVariant Scalar(const QString& sql);
    int Count(const QString& table);
    // Makes the connection refuse every write from now on.
    void RefuseWrites();
    // The plan the engine picks for statement, one line per step.
    QString PlanOf(const QString& statement);

private:
    QTemporaryDir folder;
};
