#include "support_TempStore.h"

#include "app/AppContext.h"
#include "store/StockDb.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSqlDatabase>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
QTemporaryDir& ServerFolder()
{
    static QTemporaryDir folder;
    return folder;
}
} // namespace

int TempStore::ServerPort()
{
    // A port free now, the server's on loopback as well as its socket's
    // number, so that a relay can stand between a till and the server.
    static const int port = [] {
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        bind(probe, reinterpret_cast<sockaddr*>(&address), size);
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
        ::close(probe);
        return int(ntohs(address.sin_port));
    }();
    return port;
}

bool TempStore::Server(const char* command)
{
    const QString options = QStringLiteral("-p %1 -c listen_addresses=127.0.0.1").arg(ServerPort());
    return QProcess::execute(PG_SERVER_SCRIPT, {command, ServerFolder().path(), options}) == 0;
}

bool TempStore::OnServer()
{
    return qgetenv("PELLORY_TEST_ENGINE") == "postgresql";
}

QString TempStore::ServerConnection()
{
    static const bool started = Server("start");
    if (!started)
        qWarning("The test server did not start (tests/pg_server.sh)");
    // Stopped while Qt still runs, before the statics go.
    static const bool stopsAtExit = (qAddPostRoutine([] { Server("stop"); }), true);
    Q_UNUSED(stopsAtExit);
    return "host=" + ServerFolder().path() + " port=" + QString::number(ServerPort()) +
           " dbname=postgres user=postgres";
}

TempStore::TempStore()
{
    // The store's static set-up asks for drivers before the application
    // exists, which freezes the plug-in search; the program adds the folder
    // in main, the tests do it here.
    QCoreApplication::addLibraryPath(QCoreApplication::applicationDirPath() + "/sqldrivers");
    appContext.appDir = folder.path();
    appContext.storeEngine.clear();
    if (OnServer()) {
        appContext.storeEngine = "postgresql";
        appContext.storeConnection = ServerConnection();
        // Every store starts empty, as a new folder's Stock.db does.
        QSqlDatabase reset = QSqlDatabase::addDatabase("QPSQL", "reset");
        reset.setConnectOptions(appContext.storeConnection);
        if (reset.open())
            QSqlQuery(reset).exec("SET client_min_messages = warning; DROP TABLE IF EXISTS "
                                  "providers, products, purchases, orders, orderdetail, tills, "
                                  "order_returns, settings, backups");
        reset = QSqlDatabase();
        QSqlDatabase::removeDatabase("reset");
    }
    stockDb.OpenStockDb(QString());
}

TempStore::~TempStore()
{
    stockDb.CloseStockDb();
}

QString TempStore::DbPath() const
{
    return folder.filePath("Stock.db");
}

bool TempStore::IsOpen() const
{
    return stockDb.IsOpen();
}

QSqlQuery TempStore::Exec(const QString& sql)
{
    QSqlQuery query;
    query.exec(sql);
    return query;
}

QVariant TempStore::Scalar(const QString& sql)
{
    QSqlQuery query = Exec(sql);
    return query.next() ? query.value(0) : QVariant();
}

int TempStore::Count(const QString& table)
{
    return Scalar("SELECT count(*) FROM " + table).toInt();
}

void TempStore::RefuseWrites()
{
    Exec(OnServer() ? "SET default_transaction_read_only = on" : "PRAGMA query_only=1");
}

QString TempStore::PlanOf(const QString& statement)
{
    // An empty table is read fastest without an index; the server is asked
    // for the plan it would use once the tables are large.
    if (OnServer())
        Exec("SET enable_seqscan = off");
    QSqlQuery plan = Exec((OnServer() ? "EXPLAIN " : "EXPLAIN QUERY PLAN ") + statement);
    QStringList steps;
    while (plan.next())
        steps << plan.value(OnServer() ? 0 : 3).toString();
    return steps.join('\n');
}
