#pragma once

#include <QSqlQuery>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>

// A fresh application folder with an open Stock.db, made through the real
// start-up path (appContext.appDir + stockDb.OpenStockDb) and removed again.
class TempStore
{
public:
    TempStore();
    ~TempStore();

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

private:
    QTemporaryDir folder;
};
