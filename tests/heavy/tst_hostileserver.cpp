// The version check against servers that misbehave on purpose: the window
// must keep its clock going while the worker deals with them, and closing
// must not wait for them.

#include "app/Pellory.h"
#include "screens/MessageBoxes.h"
#include "support_LoopbackHttpServer.h"
#include "support_TempStore.h"
#include "support_UrlCatcher.h"
#include "support_X11Close.h"
#include "support_XServer.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>
#include <memory>

namespace {
const QString kNewVersionTitle = QStringLiteral("发现新版本 是否下载");
// How long the clock is watched while the server misbehaves, and the longest
// it may stand still (its timer fires every second).
const int kWatchMs = 3500;
const int kLongestStillMs = 1700;
const int kCloseLimitMs = 2000;

// Bytes that are neither HTTP nor text, without the word the reply check
// looks for.
QByteArray Garbage(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random.bounded(256));
    return bytes.replace("verno", "xxxxx");
}

// A reply offering another build, as a real server would send it.
QByteArray Offer(const QByteArray& downloadAddress, const QByteArray& filler = QByteArray())
{
    return LoopbackHttpServer::Reply(200, "<verno>1010</verno><title>店铺</title>"
                                          "<newinfo>修正了结算</newinfo><downurl>" +
                                              downloadAddress + "</downurl>" + filler);
}

// A setting of the build that made the program, from its CMake cache.
QByteArray BuildSetting(const QString& buildDir, const QByteArray& name)
{
    QFile cache(buildDir + "/CMakeCache.txt");
    if (!cache.open(QIODevice::ReadOnly))
        return QByteArray();
    while (!cache.atEnd()) {
        const QByteArray line = cache.readLine().trimmed();
        if (line.startsWith(name + ':'))
            return line.mid(line.indexOf('=') + 1);
    }
    return QByteArray();
}

bool Copy(const QString& from, const QString& to)
{
    return QFile::copy(from, to) &&
           QFile::setPermissions(to, QFile::permissions(from) | QFile::WriteOwner);
}
} // namespace

class TestHostileServer : public QObject
{
    Q_OBJECT
private slots:
    void init() { MessageBoxes::SetTestMode(true); }
    void cleanup() { MessageBoxes::SetTestMode(false); }
    void windowOutlastsServer_data();
    void windowOutlastsServer();
    void programClosesWhileServerIsSilent();
};

void TestHostileServer::windowOutlastsServer_data()
{
    QTest::addColumn<int>("lastByte");
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<bool>("stall");
    // Whether the check is still waiting on the server when the window closes.
    QTest::addColumn<bool>("stillFetching");
    QTest::addColumn<bool>("asked");

    const QList<QByteArray> none;
    QTest::newRow("drip-feeds its reply a byte at a time")
        << 41 << OneBytePieces(Offer("http://example.org/new")) << false << true << false;
    QTest::newRow("accepts and never answers") << 42 << none << true << true << false;
    QTest::newRow("2 MiB reply") << 43
                                 << QList<QByteArray>{Offer("http://example.org/new",
                                                            QByteArray(2 << 20, 'x'))}
                                 << false << false << false;
    QTest::newRow("garbage instead of HTTP")
        << 44 << QList<QByteArray>{Garbage(64 << 10, 44)} << false << false << false;
    QTest::newRow("garbage behind a proper status line")
        << 45 << QList<QByteArray>{LoopbackHttpServer::Reply(200, Garbage(64 << 10, 45))} << false
        << false << false;
    QTest::newRow("download address is a local file")
        << 46 << QList<QByteArray>{Offer("file:///bin/sh")} << false << false << true;
}

void TestHostileServer::windowOutlastsServer()
{
    QFETCH(int, lastByte);
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(bool, stall);
    QFETCH(bool, stillFetching);
    QFETCH(bool, asked);

    LoopbackHttpServer server(lastByte);
    QVERIFY(server.IsListening());
    LoopbackHttpServer::Answer answer;
    answer.pieces = pieces;
    answer.stall = stall;
    server.SetAnswer(answer);

    UrlCatcher browser;
    TempStore store;
    auto window = std::make_unique<Pellory>(store.Dir());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->CatchThread()->SetServerHost(server.Host());
    // Were the new build offered, the shopkeeper says yes to it.
    MessageBoxes::SetNextAnswer(QMessageBox::Yes);

    QVERIFY(QMetaObject::invokeMethod(window.get(), "OnHandleCheckVerTimeOut"));
    QTRY_VERIFY(!server.Requests().isEmpty());

    QElapsedTimer watch;
    watch.start();
    QString clockText = window->StatusBar()->currentMessage();
    qint64 lastTick = 0;
    qint64 longestStill = 0;
    int ticks = 0;
    while (watch.elapsed() < kWatchMs) {
        QTest::qWait(20);
        const QString now = window->StatusBar()->currentMessage();
        if (now == clockText)
            continue;
        longestStill = qMax(longestStill, watch.elapsed() - lastTick);
        lastTick = watch.elapsed();
        clockText = now;
        ++ticks;
    }
    longestStill = qMax(longestStill, watch.elapsed() - lastTick);
    QVERIFY2(ticks >= kWatchMs / 1000 - 1, qPrintable(QString("%1 ticks").arg(ticks)));
    QVERIFY2(longestStill <= kLongestStillMs,
             qPrintable(QString("clock stood still for %1 ms").arg(longestStill)));

    QCOMPARE(window->CatchThread()->Command() == 2, stillFetching);
    QElapsedTimer closing;
    closing.start();
    window.reset();
    qInfo("clock ticked %d times, stood still at most %lld ms; closing took %lld ms", ticks,
          longestStill, closing.elapsed());
    QVERIFY2(closing.elapsed() < kCloseLimitMs,
             qPrintable(QString("closing took %1 ms").arg(closing.elapsed())));

    const QList<MessageBoxes::Shown> shown = MessageBoxes::TakeShown();
    QCOMPARE(shown.size(), asked ? 1 : 0);
    if (asked)
        QCOMPARE(shown[0].title, kNewVersionTitle);
    QCOMPARE(browser.opened, QList<QUrl>());
    QCOMPARE(server.Requests().size(), 1);
}

// The real program, as the shopkeeper starts it: its own folder, an X
// display, and the version server's host name leading to a server that never
// answers. It is asked to close the way a window manager asks while its check
// waits on that server.
void TestHostileServer::programClosesWhileServerIsSilent()
{
    const QString bin = QCoreApplication::applicationDirPath();
    if (!QFile::exists(bin + "/pellory"))
        QSKIP("the program is not built beside the tests");
    const QByteArray host = BuildSetting(bin + "/..", "VERSION_SERVER_HOST");
    if (host.isEmpty())
        QSKIP("the build's version server host name is unknown");
    for (const char* tool : {"Xvfb", "xdotool", "unshare"}) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable(QString("%1 is not installed").arg(tool)));
    }
    // The host name is the build's; only a hosts file of the program's own
    // can lead it to the test's server.
    if (QProcess::execute("unshare", {"-rm", "true"}) != 0)
        QSKIP("no user namespaces here to give the program a hosts file of its own");

    LoopbackHttpServer server(47);
    QVERIFY(server.IsListening());
    LoopbackHttpServer::Answer silence;
    silence.stall = true;
    server.SetAnswer(silence);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(QDir(folder.path()).mkdir("sqldrivers"));
    QVERIFY(Copy(bin + "/pellory", folder.filePath("pellory")));
    QVERIFY(
        Copy(bin + "/sqldrivers/libqsqlcipher.so", folder.filePath("sqldrivers/libqsqlcipher.so")));
    QFile hosts(folder.filePath("hosts"));
    QVERIFY(hosts.open(QIODevice::WriteOnly));
    hosts.write("127.0.0.1 localhost\n" + server.Host() + ' ' + host + '\n');
    hosts.close();

    const XServer xServer("1024x768x24");
    const QByteArray display = xServer.Display();
    QVERIFY(!display.isEmpty());

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", QString::fromLatin1(display));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    QProcess shop;
    shop.setProcessEnvironment(environment);
    shop.setProcessChannelMode(QProcess::MergedChannels);
    shop.setStandardOutputFile(folder.filePath("output.txt"));
    shop.start("unshare", {"-rm", "sh", "-c", "mount --bind \"$1\" /etc/hosts && exec \"$2\"", "sh",
                           hosts.fileName(), folder.filePath("pellory")});
    const auto stop = qScopeGuard([&] {
        shop.kill();
        shop.waitForFinished();
        if (QTest::currentTestFailed())
            qInfo("Xvfb's output:\n%s", qPrintable(xServer.Output()));
    });
    QVERIFY(shop.waitForStarted());

    // The first check is due a minute after start-up.
    QElapsedTimer waiting;
    waiting.start();
    while (server.Requests().isEmpty() && shop.state() == QProcess::Running &&
           waiting.elapsed() < 90000)
        QTest::qWait(200);
    QCOMPARE(shop.state(), QProcess::Running);
    QCOMPARE(server.Requests().size(), 1);

    QProcess search;
    search.setProcessEnvironment(environment);
    search.start("xdotool", {"search", "--name", "^Quorrin1009$"});
    QVERIFY(search.waitForFinished());
    const QList<QByteArray> windows = search.readAllStandardOutput().simplified().split(' ');
    QVERIFY(!windows.first().isEmpty());

    QElapsedTimer closing;
    closing.start();
    for (const QByteArray& window : windows)
        QVERIFY(SendCloseRequest(display, window.toULong()));
    QVERIFY2(shop.waitForFinished(30000),
             "the program still runs 30 s after it was asked to close");
    qInfo("the program ended %lld ms after it was asked to close", closing.elapsed());
    QVERIFY2(closing.elapsed() < kCloseLimitMs,
             qPrintable(QString("closing took %1 ms").arg(closing.elapsed())));
    QCOMPARE(shop.exitStatus(), QProcess::NormalExit);
    QCOMPARE(shop.exitCode(), 0);
}

QTEST_MAIN(TestHostileServer)
#include "tst_hostileserver.moc"

// The loopback server lives with the update tests; only that area links it.
