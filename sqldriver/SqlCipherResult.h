#pragma once

#include <QSqlRecord>
#include <QSqlResult>

struct sqlite3;
struct sqlite3_stmt;
class SqlCipherDriver;

// Field type reported for a column declared as `declared` (SQLite's affinity
// rules: INT integer, REAL/FLOA/DOUB floating point, BLOB bytes, else text).
QVariant::Type SqlCipherFieldType(const QString& declared);
// Text of a column of the current row.
QString SqlCipherColumnText(sqlite3_stmt* stmt, int column);

// One statement on the driver's connection. Rows are read straight from the
// statement as it steps, so it is forward-only; moving back re-runs it.
class SqlCipherResult : public QSqlResult
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
    QVariant data(int column) override;
    bool isNull(int column) override;
    bool fetch(int row) override;
    bool fetchNext() override;
    bool fetchFirst() override;
    bool fetchLast() override;
    int size() override;
    int numRowsAffected() override;
    QSqlRecord record() const override;
    QVariant lastInsertId() const override;
    void detachFromResultSet() override;

private:
    SqlCipherDriver* Driver() const;
    sqlite3* Connection() const;
    bool Fail(const QString& text, int code);
    bool FailFromConnection();
    bool BindValues();
    int Bind(int index, const QVariant& value);
    void Rewind();
    QSqlRecord DescribeColumns() const;

    sqlite3_stmt* stmt = nullptr;
    // exec() steps once to run the statement; that first row is not yet consumed.
    bool rowPending = false;
    // The statement has returned its last row; stepping again would re-run it.
    bool finished = false;
    int affectedRows = 0;
    QSqlRecord columns;
};
