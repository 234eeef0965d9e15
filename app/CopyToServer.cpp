#include "app/CopyToServer.h"

#include "app/AppContext.h"
#include "store/StockDb.h"
#include "store/StoreCopy.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <cstdio>
#include <memory>
#include <termios.h>
#include <unistd.h>

namespace {

const char kSourceConnection[] = "copy-to-server-source";

QTextStream& Out()
{
    static QTextStream out(stdout);
    out.setCodec("UTF-8");
    return out;
}

// The store's own debug lines would bury the progress; warnings still show.
void KeepWarnings(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg)
        QTextStream(stderr) << message << Qt::endl;
}

QString Money(qint64 cents)
{
    const qint64 whole = cents / 100;
    const qint64 rest = qAbs(cents % 100);
    return QStringLiteral("%1%2.%3")
        .arg(cents < 0 && whole == 0 ? QStringLiteral("-") : QString())
        .arg(whole)
        .arg(rest, 2, 10, QLatin1Char('0'));
}

QString Pair(const QString& file, const QString& server)
{
    return file == server ? file : file + QStringLiteral(" ≠ ") + server;
}

// One table's figures on both sides; true when they agree.
bool Compare(const QSqlDatabase& file, const QSqlDatabase& server, const QString& table)
{
    const StoreCopy::Totals here = StoreCopy::TotalsOf(file, table);
    const StoreCopy::Totals there = StoreCopy::TotalsOf(server, table);
    QTextStream& out = Out();
    out << QStringLiteral("  %1  行数 %2")
               .arg(table, -12)
               .arg(Pair(QString::number(here.rows), QString::number(there.rows)));
    if (StoreCopy::HasQuantity(table))
        out << QStringLiteral("  数量 ")
            << Pair(QString::number(here.quantity), QString::number(there.quantity));
    if (StoreCopy::HasMoney(table))
        out << QStringLiteral("  金额 ") << Pair(Money(here.cents), Money(there.cents));
    const bool same = here == there;
    out << (same ? QStringLiteral("  一致") : QStringLiteral("  不一致"));
    if (here.identifiers != there.identifiers)
        out << QStringLiteral("（编号不同）");
    for (const QString& error : {here.error, there.error}) {
        if (!error.isEmpty())
            out << QStringLiteral("（读取失败：%1）").arg(error);
    }
    out << Qt::endl;
    return same;
}

// Prints a table's progress at every tenth of it.
StoreCopy::Progress Tenths(const QString& table, qint64 total)
{
    auto printed = std::make_shared<int>(0);
    return [=](qint64 rows) {
        const int tenths = total > 0 ? int(rows * 10 / total) : 10;
        if (tenths > *printed) {
            *printed = tenths;
            Out() << QStringLiteral("  %1  %2 / %3").arg(table, -12).arg(rows).arg(total)
                  << Qt::endl;
        }
    };
}

qint64 RowCount(const QSqlDatabase& db, const QString& table)
{
    QSqlQuery query(db);
    return query.exec(QStringLiteral("SELECT count(*) FROM ") + table) && query.next()
               ? query.value(0).toLongLong()
               : -1;
}

// The shop's passphrase: asked for on the terminal without echo, or the
// first line of standard input when that is no terminal (a script). It is
// never printed.
QString ReadPassphrase()
{
    QTextStream in(stdin);
    in.setCodec("UTF-8");
    termios shown{};
    const bool terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &shown) == 0;
    if (terminal) {
        Out() << QStringLiteral("Stock.db 设有密码，请输入数据库密码：") << Qt::flush;
        termios hidden = shown;
        hidden.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
    }
    QString passphrase = in.readLine();
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &shown);
        Out() << Qt::endl;
    }
    if (passphrase.endsWith(QLatin1Char('\r')))
        passphrase.chop(1);
    return passphrase;
}

// Whether the file did not open because it does not decrypt with the key.
bool KeyRefused(const QSqlDatabase& file)
{
    return (file.lastError().nativeErrorCode().toInt() & 0xff) == 26;
}

int Refuse(const QString& why)
{
    Out() << why << Qt::endl << QStringLiteral("未复制，服务器上没有写入任何内容。") << Qt::endl;
    return 1;
}

// Inside the server's transaction: nothing stays unless everything went in
// and agrees.
int CopyInto(const QSqlDatabase& file, QSqlDatabase server)
{
    if (!server.transaction())
        return Refuse(QStringLiteral("无法开始事务：%1").arg(server.lastError().text()));
    QSqlQuery query(server);
    // A ten-year history takes longer than a till's statements may; the
    // tables stay readable but no till writes into them meanwhile, so the
    // copy never mixes with new sales and a second copy waits for the first.
    const QString lock = QStringLiteral("LOCK TABLE %1 IN EXCLUSIVE MODE")
                             .arg(StoreCopy::Tables().join(QStringLiteral(", ")));
    for (const QString& statement : {QStringLiteral("SET LOCAL statement_timeout = 0"),
                                     QStringLiteral("SET LOCAL lock_timeout = 30000"), lock}) {
        if (!query.exec(statement))
            return Refuse(QStringLiteral("服务器拒绝：%1").arg(query.lastError().text()));
    }
    QStringList holding;
    for (const QString& table : StoreCopy::Tables()) {
        if (!query.exec(QStringLiteral("SELECT 1 FROM %1 LIMIT 1").arg(table)))
            return Refuse(QStringLiteral("服务器拒绝：%1").arg(query.lastError().text()));
        if (query.next())
            holding << table;
    }
    if (!holding.isEmpty())
        return Refuse(QStringLiteral("服务器上的表已有记录（%1）：只能复制到空的表。")
                          .arg(holding.join(QStringLiteral(", "))));

    // A Stock.db last opened by an earlier build holds no returns and no
    // settings to copy.
    QStringList tables = StoreCopy::Tables();
    const QStringList held = file.tables();
    for (const char* newer : {"order_returns", "settings"}) {
        if (!held.contains(QLatin1String(newer)))
            tables.removeAll(QLatin1String(newer));
    }
    QTextStream& out = Out();
    for (const QString& table : tables) {
        const qint64 total = RowCount(file, table);
        out << QStringLiteral("  %1  0 / %2").arg(table, -12).arg(total) << Qt::endl;
        const QString error = StoreCopy::CopyTable(file, server, table, Tenths(table, total));
        if (!error.isEmpty())
            return Refuse(QStringLiteral("复制失败：%1").arg(error));
    }
    out << QStringLiteral("核对 Stock.db 与服务器（不同时写作 本地 ≠ 服务器）：") << Qt::endl;
    bool same = true;
    for (const QString& table : tables)
        same = Compare(file, server, table) && same;
    if (!same)
        return Refuse(QStringLiteral("两边不一致，已撤销。"));
    if (!server.commit()) {
        const QString reason = QStringLiteral("提交失败：%1").arg(server.lastError().text());
        if (stockDb.ServerAwayNote().isEmpty())
            return Refuse(reason);
        // The link broke after the COMMIT went out: the server may have
        // stored everything before its reply was lost.
        out << reason << Qt::endl
            << QStringLiteral("不知道服务器是否已写入：再运行一次即可知道——"
                              "若提示表已有记录，复制已经完成。")
            << Qt::endl;
        return 1;
    }
    out << QStringLiteral("完成：全部记录已复制到服务器，两边一致。") << Qt::endl;
    return 0;
}

} // namespace

int CopyToServer(const QString& dir)
{
    qInstallMessageHandler(KeepWarnings);
    const QString path = AppendUtf8(dir + PathSeparator(), "Stock.db");
    if (appContext.storeEngine.toLower() != QLatin1String("postgresql"))
        return Refuse(QStringLiteral("plconfig.ini 的 [store] 没有 engine=postgresql，"
                                     "不知道要复制到哪台服务器。"));
    if (!QFileInfo(path).isFile())
        return Refuse(QStringLiteral("找不到 %1").arg(path));
    Out()
        << QStringLiteral("从 %1 复制到 %2").arg(path, MaskedConnection(appContext.storeConnection))
        << Qt::endl;
    stockDb.OpenStockDb(QString());
    if (!stockDb.IsOpen() || !stockDb.OpenErrorText().isEmpty())
        return Refuse(QStringLiteral("无法连接数据库服务器：%1").arg(stockDb.OpenErrorText()));
    int code = 1;
    {
        QSqlDatabase file =
            QSqlDatabase::addDatabase(QStringLiteral("SQLITECIPHER"), kSourceConnection);
        file.setDatabaseName(path);
        file.setPassword(StockDb::FilePassword());
        file.setConnectOptions(QStringLiteral("QSQLITE_USE_CIPHER=chacha20;QSQLITE_OPEN_READONLY"));
        bool opened = file.open();
        if (!opened && KeyRefused(file)) {
            file.close();
            // An empty key would read the file as plain SQLite.
            const QString passphrase = ReadPassphrase();
            file.setPassword(passphrase);
            opened = !passphrase.isEmpty() && file.open();
        }
        code = opened ? CopyInto(file, QSqlDatabase::database())
               : KeyRefused(file)
                   ? Refuse(QStringLiteral("无法打开 %1：密码未被接受，或文件已损坏。").arg(path))
                   : Refuse(QStringLiteral("无法打开 %1：%2").arg(path, file.lastError().text()));
    }
    QSqlDatabase::removeDatabase(kSourceConnection);
    // Closing a connection whose transaction was not committed rolls it back.
    stockDb.CloseStockDb();
    return code;
}
