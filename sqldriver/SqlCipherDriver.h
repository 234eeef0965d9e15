#pragma once

#include <QList>
#include <QSqlDriver>
#include <functional>

struct sqlite3;
struct sqlite3_stmt;
class QSqlField;
class SqlCipherResult;

// Qt SQL driver "SQLITECIPHER": SQLite with the file encrypted by SQLCipher.
//
// open(): database name = file path, password = key (empty: a plain SQLite
// file), connect options separated by ';' (see ConnectOptions in the .cpp).
class SqlCipherDriver : public QSqlDriver
{
    Q_OBJECT

public:
    explicit SqlCipherDriver(QObject* parent = nullptr);
    ~SqlCipherDriver() override;

    bool hasFeature(DriverFeature feature) const override;
    bool open(const QString& db, const QString& user, const QString& password, const QString& host,
              int port, const QString& options) override;
    void close() override;
    QSqlResult* createResult() const override;

    bool beginTransaction() override;
    bool commitTransaction() override;
    bool rollbackTransaction() override;

    QStringList tables(QSql::TableType type) const override;
    QSqlRecord record(const QString& table) const override;
    QSqlIndex primaryIndex(const QString& table) const override;

private:
    friend class SqlCipherResult;

    struct Failure
    {
        QString text;
        int code;
    };

    // Opens, keys and checks the file; returns what went wrong, if anything.
    bool Connect(const QString& path, const QString& password, const QString& options,
                 Failure& failure);
    int ApplyConnectionSettings();
    bool RunTransactionStatement(const char* sql);
    // Steps `sql` to the end, handing every row to `row`; false on any error.
    bool ForEachRow(const QString& sql, const std::function<void(sqlite3_stmt*)>& row) const;
    // Hands each column of `table` with its position in the primary key (0: none).
    void ForEachColumnOf(const QString& table,
                         const std::function<void(const QSqlField&, int)>& column) const;
    void ReportStatementError(const QSqlError& error);

    sqlite3* connection = nullptr;
    // Statements are finalized on close() so the connection can really close.
    mutable QList<SqlCipherResult*> results;
};
