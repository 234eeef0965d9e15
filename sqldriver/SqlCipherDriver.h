#pragma once

#include <QList>
#include <QSqlDriver>
#include <QSqlField>
#include <QVector>
#include <functional>

struct sqlite3;
struct sqlite3_stmt;
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
    QString escapeIdentifier(const QString& identifier, IdentifierType type) const override;
    QVariant handle() const override;

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
    struct Column
    {
        QSqlField field;
        int keyPosition; // 1-based within the primary key, 0: not in it
    };
    // The columns of `table`, which may be schema-qualified and quoted.
    QVector<Column> ColumnsOf(const QString& table) const;
    void ReportStatementError(const QSqlError& error);

    sqlite3* connection = nullptr;
    // Statements are finalized on close() so the connection can really close.
    mutable QList<SqlCipherResult*> results;
};
