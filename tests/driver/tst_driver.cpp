#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Password = QStringLiteral("19970408maple");
const QByteArray PlainHeader("SQLite format 3\0", 16);

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

} // namespace

class TestDriver : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    int serial = 0;

    QString PathOf(const QString& name) const { return dir.filePath(name); }

    // A new connection through the plug-in; open() has already been tried.
    QSqlDatabase Connect(const QString& path, const QString& password,
                         const QString& options = QString())
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase("SQLITECIPHER", QString("connection%1").arg(++serial));
        db.setDatabaseName(path);
        db.setPassword(password);
        db.setConnectOptions(options);
        db.open();
        return db;
    }

    // A file made through the driver, holding table t with one row.
    void MakeDatabase(const QString& path, const QString& password)
    {
        QSqlDatabase db = Connect(path, password, "QSQLITE_CREATE_KEY");
        QVERIFY2(db.isOpen(), qPrintable(db.lastError().driverText()));
        QSqlQuery query(db);
        QVERIFY(query.exec("CREATE TABLE t (v TEXT)"));
        QVERIFY(query.exec("INSERT INTO t VALUES ('secret-marker')"));
    }

    QSqlDatabase OpenTable(const QString& name)
    {
        QSqlDatabase db = Connect(PathOf(name), Password, "QSQLITE_CREATE_KEY");
        QSqlQuery query(db);
        query.exec("CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT NOT NULL, "
                   "price DOUBLE, qty INTEGER, note VARCHAR(32), any)");
        return db;
    }

    int Count(QSqlDatabase db, const QString& table)
    {
        QSqlQuery query(db);
        query.exec("SELECT count(*) FROM " + table);
        return query.next() ? query.value(0).toInt() : -1;
    }

private slots:
    void initTestCase();
    void cleanup();
    void createAndReopen_data();
    void createAndReopen();
    void refusedOpen_data();
    void refusedOpen();
    void onlySqlCipherInProcess();
    void commandLineToolAgrees();
    void transactions();
    void failedStatementSetsBothErrors_data();
    void failedStatementSetsBothErrors();
    void closeWithLiveQueries();
};

void TestDriver::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(QSqlDatabase::isDriverAvailable("SQLITECIPHER"));
}

void TestDriver::cleanup()
{
    for (const QString& name : QSqlDatabase::connectionNames())
        QSqlDatabase::removeDatabase(name);
}

void TestDriver::createAndReopen_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("createOptions");
    QTest::addColumn<QString>("reopenOptions");

    QTest::newRow("keyed") << Password << "QSQLITE_CREATE_KEY"
                           << "QSQLITE_USE_CIPHER=chacha20";
    QTest::newRow("keyed, both options")
        << Password << " QSQLITE_CREATE_KEY ; QSQLITE_USE_CIPHER=chacha20;"
        << "";
    QTest::newRow("plain") << ""
                           << "QSQLITE_CREATE_KEY"
                           << "";
    QTest::newRow("keyed, reopened read-only")
        << Password << "QSQLITE_CREATE_KEY"
        << "QSQLITE_USE_CIPHER=chacha20;QSQLITE_OPEN_READONLY";
}

void TestDriver::createAndReopen()
{
    QFETCH(QString, password);
    QFETCH(QString, createOptions);
    QFETCH(QString, reopenOptions);
    const QString path = PathOf(QString("created-%1.db").arg(QTest::currentDataTag()));

    {
        QSqlDatabase db = Connect(path, password, createOptions);
        QVERIFY2(db.isOpen(), qPrintable(db.lastError().driverText()));
        // On disk and non-empty before anything is written through it.
        const QByteArray bytes = ReadFile(path);
        QVERIFY(!bytes.isEmpty());
        QCOMPARE(bytes.left(16) == PlainHeader, password.isEmpty());
        QVERIFY(db.tables().isEmpty());

        QSqlQuery query(db);
        QVERIFY(query.exec("CREATE TABLE t (v TEXT)"));
        QVERIFY(query.exec("INSERT INTO t VALUES ('secret-marker'), ('second')"));
        db.close();
    }
    QCOMPARE(ReadFile(path).contains("secret-marker"), password.isEmpty());

    QSqlDatabase db = Connect(path, password, reopenOptions);
    QVERIFY2(db.isOpen(), qPrintable(db.lastError().driverText()));
    QCOMPARE(db.tables(), QStringList{"t"});
    QCOMPARE(QSqlQuery(db).exec("DELETE FROM t"), !reopenOptions.contains("READONLY"));
    QCOMPARE(Count(db, "t"), reopenOptions.contains("READONLY") ? 2 : 0);
}

void TestDriver::refusedOpen_data()
{
    QTest::addColumn<QString>("file"); // what lies at the path before the open
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("why"); // part of the driver text

    const QString wrongKey = "not a database encrypted with it";
    QTest::newRow("wrong password") << "keyed"
                                    << "19970408maplf"
                                    << "" << wrongKey;
    QTest::newRow("wrong password, creating") << "keyed"
                                              << "x"
                                              << "QSQLITE_CREATE_KEY" << wrongKey;
    QTest::newRow("plain file with a key")
        << "plain" << Password << "QSQLITE_USE_CIPHER=chacha20" << wrongKey;
    QTest::newRow("keyed file without key") << "keyed"
                                            << ""
                                            << ""
                                            << "not a plain SQLite";
    QTest::newRow("text file") << "text" << Password << "" << wrongKey;
    QTest::newRow("damaged page 1") << "damaged" << Password << "" << wrongKey;
    QTest::newRow("truncated") << "truncated" << Password << "" << wrongKey;
    QTest::newRow("empty file with key") << "empty" << Password << ""
                                         << "is empty";
    QTest::newRow("missing") << "missing" << Password << "QSQLITE_USE_CIPHER=chacha20"
                             << "does not exist";
    QTest::newRow("unknown cipher")
        << "missing" << Password << "QSQLITE_CREATE_KEY;QSQLITE_USE_CIPHER=aes"
        << "Unsupported cipher \"aes\"";
    QTest::newRow("unknown option") << "keyed" << Password << "QSQLITE_CREATE_KEYS"
                                    << "Unknown connect option \"QSQLITE_CREATE_KEYS\"";
    QTest::newRow("read-only creation")
        << "missing" << Password << "QSQLITE_CREATE_KEY;QSQLITE_OPEN_READONLY"
        << "exclude each other";
    QTest::newRow("create key with value") << "missing" << Password << "QSQLITE_CREATE_KEY=1"
                                           << "takes no value";
}

void TestDriver::refusedOpen()
{
    QFETCH(QString, file);
    QFETCH(QString, password);
    QFETCH(QString, options);
    QFETCH(QString, why);
    const QString path = PathOf(QString("refused-%1.db").arg(QTest::currentDataTag()));

    if (file == "keyed" || file == "plain" || file == "damaged" || file == "truncated") {
        MakeDatabase(path, file == "plain" ? QString() : Password);
        cleanup();
        QByteArray bytes = ReadFile(path);
        if (file == "damaged")
            bytes.replace(200, 100, QByteArray(100, '\xA5'));
        if (file == "truncated")
            bytes.truncate(600);
        WriteFile(path, bytes);
    } else if (file == "text") {
        WriteFile(path, QByteArray("barcode;name;price\n").repeated(200));
    } else if (file == "empty") {
        WriteFile(path, QByteArray());
    }
    const bool existed = QFile::exists(path);
    const QByteArray before = ReadFile(path);

    QSqlDatabase db = Connect(path, password, options);
    QVERIFY(!db.isOpen());
    QVERIFY(db.isOpenError());
    QCOMPARE(db.lastError().type(), QSqlError::ConnectionError);
    QVERIFY2(db.lastError().driverText().contains(why), qPrintable(db.lastError().driverText()));
    QTest::ignoreMessage(QtWarningMsg, "QSqlQuery::exec: database not open");
    QVERIFY(!QSqlQuery(db).exec("SELECT 1"));
    // Refusing a file never changes or creates it.
    QCOMPARE(QFile::exists(path), existed);
    QVERIFY(ReadFile(path) == before);
}

void TestDriver::onlySqlCipherInProcess()
{
    QSqlDatabase db = Connect(PathOf("maps.db"), Password, "QSQLITE_CREATE_KEY");
    QVERIFY(db.isOpen());
    const QByteArray maps = ReadFile("/proc/self/maps");
    if (maps.isEmpty())
        QSKIP("no /proc/self/maps on this system");
    QVERIFY(maps.contains("libsqlcipher.so"));
    QVERIFY(!maps.contains("libsqlite3.so"));
}

void TestDriver::commandLineToolAgrees()
{
    const QString tool = QStandardPaths::findExecutable("sqlcipher");
    if (tool.isEmpty())
        QSKIP("the sqlcipher command-line tool is not installed");
    const auto run = [&tool](const QString& path, const QByteArray& input) {
        QProcess process;
        process.start(tool, {path});
        process.write(input);
        process.closeWriteChannel();
        process.waitForFinished(30000);
        return process.readAllStandardOutput() + process.readAllStandardError();
    };

    const QString ours = PathOf("for-tool.db");
    {
        QSqlDatabase db = Connect(ours, Password, "QSQLITE_CREATE_KEY");
        QSqlQuery query(db);
        QVERIFY(query.exec("CREATE TABLE providers (a)"));
        QVERIFY(query.exec("CREATE TABLE products (b)"));
        db.close();
    }
    const QByteArray listed = run(ours, "PRAGMA key='" + Password.toUtf8() + "';\n.tables\n");
    QVERIFY2(listed.contains("providers") && listed.contains("products"), listed.constData());
    QVERIFY(!run(ours, "PRAGMA key='wrong';\n.tables\n").contains("providers"));

    // And the other way round: a file keyed by the tool opens here.
    const QString theirs = PathOf("from-tool.db");
    run(theirs, "PRAGMA key='" + Password.toUtf8() + "';\nCREATE TABLE made_by_tool (x);\n");
    QSqlDatabase db = Connect(theirs, Password, "QSQLITE_USE_CIPHER=chacha20");
    QVERIFY2(db.isOpen(), qPrintable(db.lastError().driverText()));
    QCOMPARE(db.tables(), QStringList{"made_by_tool"});
}

void TestDriver::transactions()
{
    const QString path = PathOf("transactions.db");
    {
        QSqlDatabase db = OpenTable("transactions.db");
        QSqlQuery query(db);
        QVERIFY(db.transaction());
        QVERIFY(query.exec("INSERT INTO items (name) VALUES ('rolled back')"));
        QCOMPARE(Count(db, "items"), 1);
        QVERIFY(db.rollback());
        QCOMPARE(Count(db, "items"), 0);

        QVERIFY(db.transaction());
        QVERIFY(query.exec("INSERT INTO items (name) VALUES ('kept 1')"));
        QVERIFY(query.exec("INSERT INTO items (name) VALUES ('kept 2')"));
        QVERIFY(db.commit());

        QVERIFY(!db.commit());
        QCOMPARE(db.lastError().type(), QSqlError::TransactionError);
        QVERIFY(!db.lastError().driverText().isEmpty());
        db.close();
    }
    QSqlDatabase db = Connect(path, Password);
    QCOMPARE(Count(db, "items"), 2);
}

void TestDriver::failedStatementSetsBothErrors_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("prepared");
    QTest::addColumn<QString>("why");

    QTest::newRow("missing table") << "INSERT INTO nowhere VALUES (1)" << false << "no such table";
    QTest::newRow("syntax") << "SELEC * FROM items" << false << "syntax error";
    QTest::newRow("not null, prepared")
        << "INSERT INTO items (name) VALUES (?)" << true << "NOT NULL";
    QTest::newRow("unique") << "INSERT INTO items (id, name) VALUES (1, 'again')" << false
                            << "UNIQUE";
    QTest::newRow("two statements") << "INSERT INTO items (name) VALUES ('x'); DELETE FROM items"
                                    << false << "multiple statements";
}

void TestDriver::failedStatementSetsBothErrors()
{
    QFETCH(QString, sql);
    QFETCH(bool, prepared);
    QFETCH(QString, why);
    QSqlDatabase db = OpenTable(QString("errors-%1.db").arg(QTest::currentDataTag()));
    QSqlQuery query(db);
    QVERIFY(query.exec("INSERT INTO items (id, name) VALUES (1, 'first')"));

    bool ok = false;
    if (prepared) {
        QVERIFY(query.prepare(sql));
        query.addBindValue(QVariant(QVariant::String));
        ok = query.exec();
    } else {
        ok = query.exec(sql);
    }
    QVERIFY(!ok);
    QVERIFY(!query.isActive());
    QCOMPARE(query.lastError().type(), QSqlError::StatementError);
    QVERIFY2(query.lastError().text().contains(why, Qt::CaseInsensitive),
             qPrintable(query.lastError().text()));
    // The store logs the connection's driver text, so the reason must be there.
    QVERIFY2(db.lastError().driverText().contains(why, Qt::CaseInsensitive),
             qPrintable(db.lastError().driverText()));
    QCOMPARE(Count(db, "items"), 1);
}

void TestDriver::closeWithLiveQueries()
{
    const QString path = PathOf("close.db");
    QSqlDatabase db = OpenTable("close.db");
    QSqlQuery writer(db);
    for (int i = 0; i < 3; ++i)
        QVERIFY(writer.exec(QString("INSERT INTO items (name) VALUES ('n%1')").arg(i)));
    QSqlQuery reader(db);
    QVERIFY(reader.exec("SELECT name FROM items"));
    QVERIFY(reader.next());
    QVERIFY(writer.prepare("INSERT INTO items (name) VALUES (?)"));

    db.close();
    QVERIFY(!db.isOpen());
    QVERIFY(!reader.isActive());
    QVERIFY(!reader.next());
    writer.addBindValue("after close");
    QVERIFY(!writer.exec());

    // The statements really let go of the file: it opens again, unchanged.
    QVERIFY(db.open());
    QCOMPARE(Count(db, "items"), 3);
}

QTEST_GUILESS_MAIN(TestDriver)
#include "tst_driver.moc"
