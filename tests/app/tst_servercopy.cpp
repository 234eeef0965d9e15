#include "app/AppContext.h"
#include "store/ServerBackup.h"
#include "store/StockDb.h"
#include "support_CutProxy.h"
#include "support_TempStore.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QSettings>
#include <QSqlRecord>
#include <QtTest>

// A shop's history moved onto a server by the real program, which needs no
// display for it, and the server's daily backup opened again as a file store.
class TestServerCopy : public QObject
{
    Q_OBJECT
private slots:
    void copyThenBackUp();
};

namespace {
// Every row of every table in table order, as the program reads them:
// NULL and an empty text both show empty.
QStringList Rows()
{
    QStringList rows;
    for (const char* table : {"providers", "purchases", "orders", "orderdetail", "products",
                              "order_returns", "settings"}) {
        QSqlQuery query(QStringLiteral("SELECT * FROM %1 ORDER BY rowid").arg(table));
        while (query.next()) {
            QStringList fields{table};
            for (int i = 0; i < query.record().count(); ++i) {
                if (query.record().fieldName(i) != "rowid")
                    fields << (query.value(i).isNull() ? QString() : query.value(i).toString());
            }
            rows << fields.join('|');
        }
    }
    return rows;
}

QByteArray Hash(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly)
               ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
               : QByteArray();
}

void UseServer(bool server)
{
    appContext.storeEngine = server ? "postgresql" : "";
    appContext.storeConnection = server ? TempStore::ServerConnection() : QString();
    stockDb.OpenStockDb(QString());
}
} // namespace

void TestServerCopy::copyThenBackUp()
{
    TempStore store;
    QVERIFY(store.IsOpen());
    // Digits a double would lose, quotes, an empty price in a number column,
    // a barcode with leading zeros, and a stock no server column can hold.
    QVERIFY(stockDb.InsertProvider("9007199254740993", "张记'供应", "", "", "", "", ""));
    QVERIFY(stockDb.InsertProduct("9007199254740995", "可乐 \"330ml\"", "0012", "abc",
                                  "9007199254740993", "", "12.5"));
    QVERIFY(stockDb.InsertPurchase("2026-01-02 08:00:00", "9007199254740997", "B-1", "可乐", "0012",
                                   "24", "9007199254740993", "2.5", "3.5"));
    for (const char* guid : {"9007199254741001", "9007199254741003"}) {
        QVERIFY(stockDb.InsertOrderDetail({guid, "2026-01-02 09:00:00", "7.1", "可乐",
                                           "9007199254740995", "0012", "2", "3.55", "7.1"}));
        QVERIFY(stockDb.InsertOrder({guid, "2026-01-02 09:00:01", "7.1", "1"}));
    }
    QVERIFY(stockDb.SetLowStockLevel(7));
    QCOMPARE(stockDb.StoreReturn("9007199254741001", "9007199254741005", "2026-01-02 10:00:00",
                                 {{"", "", "0012", "3.55", 0, 0, 1}}),
             StockDb::Return::Stored);
    stockDb.CloseStockDb();

    const QString binDir = qEnvironmentVariable("PELLORY_BIN_DIR");
    QVERIFY(QDir().mkpath(store.Dir() + "/sqldrivers"));
    QVERIFY(QFile::copy(binDir + "/pellory", store.Dir() + "/pellory"));
    QVERIFY(QFile::copy(binDir + "/sqldrivers/libqsqlcipher.so",
                        store.Dir() + "/sqldrivers/libqsqlcipher.so"));
    const auto useConnection = [&](const QString& connection) {
        QSettings settings(store.Dir() + "/plconfig.ini", QSettings::IniFormat);
        settings.setValue("store/engine", "postgresql");
        settings.setValue("store/connection", connection);
    };
    useConnection(TempStore::ServerConnection());
    // A store under the shop's passphrase, given on standard input.
    const QString passphrase = "店里的 passphrase";
    const auto copy = [&](int exitCode, const QString& says) {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(display);
        program.setProcessEnvironment(environment);
        program.start(store.Dir() + "/pellory", {"--copy-to-server"});
        program.write(passphrase.toUtf8() + "\n");
        program.closeWriteChannel();
        QVERIFY(program.waitForFinished(60000));
        const QString output = QString::fromUtf8(program.readAllStandardOutput());
        QVERIFY2(program.exitCode() == exitCode && output.contains(says) &&
                     !output.contains(passphrase),
                 qPrintable(output));
    };

    // Four tables went in before the products failed: none of them stays.
    copy(1, "复制失败");
    UseServer(false);
    ProductInfo product;
    product.product_guid = "9007199254740995";
    product.product_num = "5";
    QVERIFY(stockDb.UpdateProductNum(product));
    QVERIFY(stockDb.ChangeKey(passphrase));
    const QStringList fileRows = Rows();
    stockDb.CloseStockDb();
    const QByteArray before = Hash(store.DbPath());

    // The server stores the copy, and the link breaks before its answer.
    CutProxy relay(TempStore::ServerPort());
    useConnection(relay.Connection());
    relay.Arm("COMMIT", true);
    copy(1, "再运行一次");
    useConnection(TempStore::ServerConnection());
    UseServer(true);
    QCOMPARE(Rows(), fileRows);
    QVERIFY(stockDb.ExeSql("TRUNCATE providers, products, purchases, orders, orderdetail, "
                           "order_returns, settings"));
    stockDb.CloseStockDb();
    copy(0, "products      行数 1  数量 5  金额 12.50  一致");
    QCOMPARE(Hash(store.DbPath()), before);
    UseServer(true);
    QCOMPARE(Rows(), fileRows);
    copy(1, "已有记录");
    QCOMPARE(Rows(), fileRows);

    // The server's backup is a Stock.db a till opens on its own.
    const QString folder = store.Dir() + "/backup";
    ServerBackup backup(QSqlDatabase::defaultConnection, StockDb::FilePassword(), folder);
    QCOMPARE(int(backup.Make(QDate(2026, 1, 3)).outcome), int(StockBackup::Outcome::Made));
    stockDb.CloseStockDb();
    QVERIFY(QFile::remove(store.DbPath()));
    QVERIFY(QFile::copy(folder + "/Stock-2026-01-03.db", store.DbPath()));
    UseServer(false);
    QCOMPARE(stockDb.OpenErrorText(), QString());
    QCOMPARE(Rows(), fileRows);
}

QTEST_GUILESS_MAIN(TestServerCopy)
#include "tst_servercopy.moc"
