#pragma once

#include <QSqlError>
#include <QSqlRecord>
#include <QtSql/private/qsqlcachedresult_p.h>

struct sqlite3;
struct sqlite3_stmt;
class SqlCipherDriver;

// handle() of the driver and of a result carry these, as with Qt's SQLite
// driver, so code that registers functions or collations finds them.
Q_DECLARE_OPAQUE_POINTER(sqlite3*)
Q_DECLARE_METATYPE(sqlite3*)
Q_DECLARE_OPAQUE_POINTER(sqlite3_stmt*)
Q_DECLARE_METATYPE(sqlite3_stmt*)

// Field type reported for a column declared as `declared`.
QVariant::Type SqlCipherFieldType(const QString& declared);
// Text of a column of the current row.
QString SqlCipherColumnText(sqlite3_stmt* stmt, int column);

// One statement on the driver's connection. Rows read are kept by
// QSqlCachedResult, so moving back serves them again without re-running the
// statement; a forward-only query keeps only the current row.
class SqlCipherResult : public QSqlCachedResult
{
public:
    explicit SqlCipherResult(const SqlCipherDriver* driver);
    ~SqlCipherResult() override;

    // Drops the statement, e.g. because the connection is closing.
    void Finalize();

protected:
    bool reset(const QString& query) override;
    bool prepare(const QString& query) override;
    bool exec() override;
    bool gotoNext(ValueCache& values, int index) override;
    int size() override;
    int numRowsAffected() override;
    QSqlRecord record() const override;
    QVariant lastInsertId() const override;
    QVariant handle() const override;
    void detachFromResultSet() override;

private:
    SqlCipherDriver* Driver() const;
    sqlite3* Connection() const;
    bool Fail(const QString& text, const QString& reason, QSqlError::ErrorType type, int code);
    bool FailFromConnection(const QString& text, int code);
    bool BindValues();
    int Bind(int index, const QVariant& value);
    QVariant Value(int column) const;
    QSqlRecord DescribeColumns() const;

    sqlite3_stmt* stmt = nullptr;
    // exec() steps once to run the statement; that first row is not yet consumed.
    bool rowPending = false;
    // The statement has returned its last row; stepping again would re-run it.
    bool finished = false;
    int affectedRows = 0;
    QSqlRecord columns;
};
