#include "app/AppContext.h"
#include "app/DiagnosticLog.h"

#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <thread>

class TestAppContext : public QObject
{
    Q_OBJECT
private slots:
    void md5MatchesReferenceDigests_data();
    void md5MatchesReferenceDigests();
    void appendAddsNoSeparator();
    void firstStartWritesOneIdentity();
    void storedIdentityIsKeptAsIs_data();
    void storedIdentityIsKeptAsIs();
    void logLineFormat_data();
    void logLineFormat();
    void handlerAppendsWholeLinesFromTwoThreads();
    void handlerOffWritesNothing();
};

void TestAppContext::md5MatchesReferenceDigests_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("digest");
    QTest::newRow("empty") << QByteArray("") << QByteArray("d41d8cd98f00b204e9800998ecf8427e");
    QTest::newRow("a") << QByteArray("a") << QByteArray("0cc175b9c0f1b6a831c399e269772661");
    QTest::newRow("abc") << QByteArray("abc") << QByteArray("900150983cd24fb0d6963f7d28e17f72");
    QTest::newRow("message digest")
        << QByteArray("message digest") << QByteArray("f96b697d7cb7938d525a2f31aaf161d0");
    QTest::newRow("alphabet") << QByteArray("abcdefghijklmnopqrstuvwxyz")
                              << QByteArray("c3fcd3d76192e4007dfb496cca67e13b");
    QTest::newRow("alphanumeric")
        << QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789")
        << QByteArray("d174ab98d277d9f5a5611c2c9f419d9f");
    QTest::newRow("digits") << QByteArray("123456789012345678901234567890123456789012345678901234"
                                          "56789012345678901234567890")
                            << QByteArray("57edf4a22be3c955ac49da2e2107b67a");
}

void TestAppContext::md5MatchesReferenceDigests()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, digest);
    QCOMPARE(Md5Hex(input), digest);
}

void TestAppContext::appendAddsNoSeparator()
{
    QCOMPARE(AppendUtf8("/opt/shop", "cslog.txt"), QString("/opt/shopcslog.txt"));
    QCOMPARE(AppendUtf8("2021-03-05", " 00:00:00"), QString("2021-03-05 00:00:00"));
    QCOMPARE(AppendUtf8("商店", "库存"), QString::fromUtf8("商店库存"));
}

void TestAppContext::firstStartWritesOneIdentity()
{
    QTemporaryDir dir;
    LoadClientUuid(dir.path());
    const QString first = appContext.clientUuid;
    QVERIFY(QRegularExpression("^[0-9a-f]{32}$").match(first).hasMatch());

    QFile file(dir.filePath("plconfig.ini"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    file.close();
    QCOMPARE(written.trimmed(), QByteArray("[config]\nclientuuid=" + first.toLatin1()));

    LoadClientUuid(dir.path());
    QCOMPARE(appContext.clientUuid, first);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), written);
}

void TestAppContext::storedIdentityIsKeptAsIs_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("kept");
    QTest::newRow("three letters") << "abc" << true;
    QTest::newRow("empty value gets a new identity") << "" << false;
}

void TestAppContext::storedIdentityIsKeptAsIs()
{
    QFETCH(QString, stored);
    QFETCH(bool, kept);
    QTemporaryDir dir;
    {
        QSettings settings(dir.filePath("plconfig.ini"), QSettings::IniFormat);
        settings.setValue("/config/clientuuid", stored);
    }
    LoadClientUuid(dir.path());
    if (kept) {
        QCOMPARE(appContext.clientUuid, stored);
    } else {
        QVERIFY(QRegularExpression("^[0-9a-f]{32}$").match(appContext.clientUuid).hasMatch());
        QSettings settings(dir.filePath("plconfig.ini"), QSettings::IniFormat);
        QCOMPARE(settings.value("/config/clientuuid").toString(), appContext.clientUuid);
    }
}

void TestAppContext::logLineFormat_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("prefix");
    QTest::newRow("debug") << int(QtDebugMsg) << "ExeSql Failed : x"
                           << "Debug: File:() Line:(0) ExeSql Failed : x (";
    QTest::newRow("warning") << int(QtWarningMsg) << "w"
                             << "Warning: File:() Line:(0) w (";
    QTest::newRow("critical") << int(QtCriticalMsg) << "c"
                              << "Critical: File:() Line:(0) c (";
    QTest::newRow("info begins with a space") << int(QtInfoMsg) << "i"
                                              << " File:() Line:(0) i (";
    QTest::newRow("markers stay as written") << int(QtDebugMsg) << "%1 %2 %s"
                                             << "Debug: File:() Line:(0) %1 %2 %s (";
}

void TestAppContext::logLineFormat()
{
    QFETCH(int, type);
    QFETCH(QString, message);
    QFETCH(QString, prefix);
    const QString line = FormatLogLine(QtMsgType(type), QMessageLogContext(), message);
    QVERIFY2(line.startsWith(prefix), qPrintable(line));
    const QString stamp = line.mid(prefix.size());
    QVERIFY2(QRegularExpression("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} \\S+\\)$")
                 .match(stamp)
                 .hasMatch(),
             qPrintable(line));

    QMessageLogContext withSource("shop.cpp", 42, "f", "c");
    QVERIFY(FormatLogLine(QtDebugMsg, withSource, "m")
                .startsWith("Debug: File:(shop.cpp) Line:(42) m ("));
}

void TestAppContext::handlerAppendsWholeLinesFromTwoThreads()
{
    QTemporaryDir dir;
    appContext.InitLog(dir.path(), true);
    const int perThread = 300;
    auto writer = [](const QString& tag) {
        for (int i = 0; i < perThread; ++i)
            qDebug().noquote() << tag + QString::number(i);
    };
    std::thread other(writer, QString("worker-"));
    writer("main-");
    other.join();
    qInstallMessageHandler(nullptr);

    QFile file(dir.filePath("cslog.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QVERIFY(content.endsWith("\r\n"));
    const QList<QByteArray> lines = content.left(content.size() - 2).split('\n');
    QCOMPARE(lines.size(), 2 * perThread);
    const QRegularExpression whole(
        "^Debug: File:\\(.*\\) Line:\\(\\d+\\) (main|worker)-\\d+ \\(.+\\)\\r?$");
    for (const QByteArray& line : lines)
        QVERIFY2(whole.match(QString::fromUtf8(line)).hasMatch(), line.constData());
}

void TestAppContext::handlerOffWritesNothing()
{
    QTemporaryDir dir;
    appContext.InitLog(dir.path(), false);
    qDebug() << "goes to the default output";
    QCOMPARE(appContext.appDir, dir.path());
    QVERIFY(!QFile::exists(dir.filePath("cslog.txt")));
}

QTEST_GUILESS_MAIN(TestAppContext)
#include "tst_appcontext.moc"
