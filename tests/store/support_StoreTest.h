#pragma once

#include <QStringList>
#include <QtMessageHandler>

// Collects the debug lines written while it lives; they still reach the
// previous handler so the test log shows them.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Lines that report a failed statement.
    int FailedStatements() const;
    QStringList Lines() const;

private:
    QtMessageHandler previous;
};

// Every row of the table, in table order, one text per row, so that tests can
// see that nothing else in the store changed.
QStringList TableRows(const QString& table);
// The tables and columns of the store, whichever its engine.
QStringList SchemaRows();
// All five tables plus the schema itself.
QStringList StoreSnapshot();
