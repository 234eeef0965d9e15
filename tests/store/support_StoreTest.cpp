#include "support_StoreTest.h"

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace {
QStringList& CapturedLines()
{
    static QStringList lines;
    return lines;
}

QtMessageHandler& PreviousHandler()
{
    static QtMessageHandler handler = nullptr;
    return handler;
}

void Capture(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtDebugMsg)
        CapturedLines().append(message);
    if (PreviousHandler())
        PreviousHandler()(type, context, message);
}
} // namespace

LogCapture::LogCapture()
{
    CapturedLines().clear();
    previous = qInstallMessageHandler(Capture);
    PreviousHandler() = previous;
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
    PreviousHandler() = nullptr;
}

int LogCapture::FailedStatements() const
{
    return CapturedLines().filter(QRegularExpression("^ExeSql Failed : ")).size();
}

QStringList LogCapture::Lines() const
{
    return CapturedLines();
}

QStringList TableRows(const QString& table)
{
    QStringList rows;
    QSqlQuery query("SELECT * FROM " + table + " ORDER BY rowid");
    while (query.next()) {
        QStringList fields;
        for (int i = 0; i < query.record().count(); ++i) {
            const QVariant value = query.value(i);
            fields.append(value.isNull() ? QStringLiteral("<null>") : value.toString());
        }
        rows.append(fields.join(QChar(0x1f)));
    }
    return rows;
}

QStringList SchemaRows()
{
    if (QSqlDatabase::database().driverName() != "QPSQL")
        return TableRows("sqlite_master");
    QStringList rows;
    QSqlQuery query("SELECT table_name, column_name, data_type FROM information_schema.columns "
                    "WHERE table_schema = current_schema() ORDER BY table_name, ordinal_position");
    while (query.next())
        rows << QStringList{query.value(0).toString(), query.value(1).toString(),
                            query.value(2).toString()}
                    .join(' ');
    return rows;
}

QStringList StoreSnapshot()
{
    QStringList snapshot = SchemaRows();
    for (const char* table : {"providers", "products", "purchases", "orders", "orderdetail"})
        snapshot << QString::fromLatin1(table) << TableRows(table);
    return snapshot;
}
