#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// Starts the real program from a private copy of its folder, the way a
// shopkeeper's installation runs, and looks at what it leaves on disk.
class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void firstAndSecondStart();
    void unreadableStoreIsNotOverwritten();

private:
    QString InstallCopy(const QString& into);
    // Ends the program once `waitFor` exists, or after a moment.
    void RunUntilReady(const QString& folder, const QString& waitFor = QString());
    QStringList Tables(const QString& file);

    QString binDir;
};

void TestStartup::initTestCase()
{
    binDir = qEnvironmentVariable("PELLORY_BIN_DIR", QCoreApplication::applicationDirPath());
    QVERIFY(QFile::exists(binDir + "/pellory"));
    QCoreApplication::addLibraryPath(binDir + "/sqldrivers");
}

QString TestStartup::InstallCopy(const QString& into)
{
    QDir().mkpath(into + "/sqldrivers");
    const QStringList drivers = QDir(binDir + "/sqldrivers").entryList(QDir::Files);
    for (const QString& driver : drivers)
        QFile::copy(binDir + "/sqldrivers/" + driver, into + "/sqldrivers/" + driver);
    QFile::copy(binDir + "/pellory", into + "/pellory");
    return into + "/pellory";
}

void TestStartup::RunUntilReady(const QString& folder, const QString& waitFor)
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(folder + "/pellory", QStringList());
    QVERIFY(program.waitForStarted());
    // The window is up once the start-up path has logged the store's drivers
    // and the event loop runs; give it a moment, then end it.
    QTest::qWait(1500);
    if (!waitFor.isEmpty())
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(waitFor), 20000);
    QCOMPARE(program.state(), QProcess::Running);
    program.terminate();
    program.waitForFinished(5000);
}

QStringList TestStartup::Tables(const QString& file)
{
    QStringList tables;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("SQLITECIPHER", "check");
        db.setDatabaseName(file);
        db.setPassword("19970408maple");
        db.setConnectOptions("QSQLITE_USE_CIPHER=chacha20");
        if (db.open()) {
            QSqlQuery query("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name", db);
            while (query.next())
                tables << query.value(0).toString();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase("check");
    return tables;
}

void TestStartup::firstAndSecondStart()
{
    QTemporaryDir root;
    const QString folder = root.filePath("shop");
    InstallCopy(folder);

    const QString ini = folder + "/plconfig.ini";
    const QString db = folder + "/Stock.db";
    const QString backup =
        folder + "/backup/Stock-" + QDate::currentDate().toString(Qt::ISODate) + ".db";
    RunUntilReady(folder, backup);
    QVERIFY(QFile::exists(ini));
    QVERIFY(QFile::exists(db));
    const QString identity =
        QSettings(ini, QSettings::IniFormat).value("config/clientuuid").toString();
    QVERIFY2(QRegularExpression("^[0-9a-f]{32}$").match(identity).hasMatch(), qPrintable(identity));

    QFile file(db);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.size() > 0);
    QVERIFY(!file.read(16).startsWith("SQLite format 3"));
    file.close();
    QCOMPARE(Tables(db), QStringList({"order_returns", "orderdetail", "orders", "products",
                                      "providers", "purchases", "settings"}));

    // Second start: same identity, rows of the first run still there.
    {
        QSqlDatabase conn = QSqlDatabase::addDatabase("SQLITECIPHER", "seed");
        conn.setDatabaseName(db);
        conn.setPassword("19970408maple");
        conn.setConnectOptions("QSQLITE_USE_CIPHER=chacha20");
        QVERIFY(conn.open());
        QSqlQuery insert(conn);
        QVERIFY(
            insert.exec("insert into providers(provider_guid,provider_name) values (1,'kept')"));
        conn.close();
    }
    QSqlDatabase::removeDatabase("seed");
    RunUntilReady(folder);
    QCOMPARE(QSettings(ini, QSettings::IniFormat).value("config/clientuuid").toString(), identity);
    QCOMPARE(Tables(db).size(), 7);

    const QString tool = QStandardPaths::findExecutable("sqlcipher");
    if (tool.isEmpty())
        QSKIP("the sqlcipher command-line tool is not installed");
    // The day's backup was made by the first start only, before "kept".
    for (const QString& file : {db, backup}) {
        QProcess outside;
        outside.start(tool, {file});
        QVERIFY(outside.waitForStarted());
        outside.write(
            "PRAGMA key='19970408maple';\n.tables\nSELECT provider_name FROM providers;\n");
        outside.closeWriteChannel();
        QVERIFY(outside.waitForFinished(10000));
        const QString listed = QString::fromUtf8(outside.readAllStandardOutput());
        for (const char* table : {"orderdetail", "orders", "products", "providers", "purchases"})
            QVERIFY2(listed.contains(table), qPrintable(listed));
        QCOMPARE(listed.contains("kept"), file == db);
    }
}

void TestStartup::unreadableStoreIsNotOverwritten()
{
    QTemporaryDir root;
    const QString folder = root.filePath("shop");
    InstallCopy(folder);
    const QByteArray foreign = "not a database, but the shopkeeper's file\n";
    QFile file(folder + "/Stock.db");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(foreign);
    file.close();

    RunUntilReady(folder);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), foreign);
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
