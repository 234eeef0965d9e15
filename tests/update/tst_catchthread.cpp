#include "app/AppContext.h"
#include "support_LoopbackHttpServer.h"
#include "update/CCatchThread.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <dlfcn.h>
#include <memory>
#include <netdb.h>
#include <pthread.h>

namespace {
using Answer = LoopbackHttpServer::Answer;

const char kClientId[] = "0123456789abcdef0123456789abcdef";

std::atomic<int> lookupsInResolver{0};
} // namespace

// Host names "slow-N.lookup" take N ms to fail, as with a name server that
// does not answer. The worker's lookup reaches this before the C library's.
extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result)
{
    using Lookup = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto real = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
    int delayMs = 0;
    if (node && std::sscanf(node, "slow-%d.lookup", &delayMs) == 1) {
        ++lookupsInResolver;
        QThread::msleep(static_cast<unsigned long>(delayMs));
        --lookupsInResolver;
        return EAI_NONAME;
    }
    return real(node, service, hints, result);
}

namespace {
// While it lives no thread can be started: the stack a new thread gets by
// default is larger than the address space.
class NoNewThreads
{
public:
    NoNewThreads()
    {
        pthread_getattr_default_np(&saved);
        pthread_attr_t huge;
        pthread_attr_init(&huge);
        pthread_attr_setstacksize(&huge, static_cast<size_t>(1) << 50);
        pthread_setattr_default_np(&huge);
        pthread_attr_destroy(&huge);
    }
    ~NoNewThreads()
    {
        pthread_setattr_default_np(&saved);
        pthread_attr_destroy(&saved);
    }

private:
    pthread_attr_t saved;
};

// Context switches of the threads named after the worker class, which Qt
// gives the thread it starts.
qlonglong WorkerContextSwitches()
{
    qlonglong switches = 0;
    const QDir tasks("/proc/self/task");
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + "/comm"));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "CCatchThread")
            continue;
        QFile status(tasks.filePath(task + "/status"));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.contains("ctxt_switches:"))
                switches += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
    }
    return switches;
}

Answer Once(const QByteArray& reply)
{
    Answer answer;
    answer.pieces = {reply};
    return answer;
}

// A worker pointed at 127.0.0.N whose replies are collected on the test's thread.
class Worker
{
public:
    explicit Worker(const QByteArray& host)
    {
        thread.SetServerHost(host);
        QObject::connect(&thread, &CCatchThread::notifyResult, &receiver,
                         [this](const QString& reply) { replies << reply; });
        thread.start(QThread::HighestPriority);
    }
    ~Worker() { Stop(); }

    // As the main window does on closing.
    bool Stop(unsigned long timeoutMs = ULONG_MAX)
    {
        thread.SetCommand(3);
        thread.quit();
        return thread.wait(timeoutMs);
    }

    // Asks for one check and waits until the worker is idle again.
    bool CheckAndWait(int arg)
    {
        thread.RequestCheck(arg);
        QElapsedTimer clock;
        clock.start();
        while (thread.Command() != 0 && !clock.hasExpired(15000))
            QThread::msleep(5);
        // Let a queued reply arrive, if one was sent.
        QCoreApplication::processEvents();
        QTest::qWait(50);
        return thread.Command() == 0;
    }

    CCatchThread thread;
    QObject receiver;
    QStringList replies;
};
} // namespace

class TestCatchThread : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { appContext.clientUuid = kClientId; }
    void requestCarriesBuildClientAndTime_data();
    void requestCarriesBuildClientAndTime();
    void failedFetchPassesErrorText_data();
    void failedFetchPassesErrorText();
    void noSignalWithoutCheck_data();
    void noSignalWithoutCheck();
    void waitingWorkerSleeps_data();
    void waitingWorkerSleeps();
    void requestDuringCheckRunsAfterIt();
    void stopEndsStalledCheckQuickly_data();
    void stopEndsStalledCheckQuickly();
    void closingWaitsBrieflyForLookup_data();
    void closingWaitsBrieflyForLookup();
    void splitText_data();
    void splitText();
    void timeToken();
    void extractBetween_data();
    void extractBetween();
};

void TestCatchThread::requestCarriesBuildClientAndTime_data()
{
    QTest::addColumn<int>("lastByte");
    QTest::newRow("127.0.0.21 asks port 7021") << 21;
    QTest::newRow("127.0.0.255 asks port 7255") << 255;
}

void TestCatchThread::requestCarriesBuildClientAndTime()
{
    QFETCH(int, lastByte);
    LoopbackHttpServer server(lastByte);
    QVERIFY(server.IsListening());
    const QByteArray body = QString("<verno>1010</verno><title>店铺</title>").toUtf8();
    server.SetAnswer(Once(LoopbackHttpServer::Reply(200, body)));

    const auto before = static_cast<qint64>(std::time(nullptr));
    Worker worker(server.Host());
    QVERIFY(worker.CheckAndWait(1));
    const auto after = static_cast<qint64>(std::time(nullptr));

    QCOMPARE(worker.replies, QStringList{QString::fromUtf8(body)});
    QCOMPARE(server.Requests().size(), 1);
    const QRegularExpressionMatch match =
        QRegularExpression(
            "^GET /getver\\?verno=1009&clientguid=([0-9a-f]{32})&time=(\\d+)(\\d{3}) HTTP/1.1$")
            .match(QString::fromLatin1(server.Requests().first().requestLine));
    QVERIFY2(match.hasMatch(), server.Requests().first().requestLine.constData());
    QCOMPARE(match.captured(1), QString(kClientId));
    const qint64 seconds = match.captured(2).toLongLong();
    QVERIFY(seconds >= before && seconds <= after);
    const int random = match.captured(3).toInt();
    QVERIFY(random >= 100 && random <= 599);
}

void TestCatchThread::failedFetchPassesErrorText_data()
{
    QTest::addColumn<int>("lastByte");
    // Nothing listens when there are none.
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QString>("error");
    QTest::newRow("nothing listens") << 22 << QList<QByteArray>() << "0=Couldn't connect to server";
    // Dripping for longer than the whole check may take (a piece per 150 ms).
    QTest::newRow("drip-feed outlasting the total time-out")
        << 27 << OneBytePieces(LoopbackHttpServer::Reply(200, QByteArray(100, 'x')))
        << "=Timeout was reached";
}

void TestCatchThread::failedFetchPassesErrorText()
{
    QFETCH(int, lastByte);
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QString, error);
    std::unique_ptr<LoopbackHttpServer> server;
    if (!pieces.isEmpty()) {
        server = std::make_unique<LoopbackHttpServer>(lastByte);
        QVERIFY(server->IsListening());
        Answer drip;
        drip.pieces = pieces;
        server->SetAnswer(drip);
    }

    Worker worker("127.0.0." + QByteArray::number(lastByte));
    QCOMPARE(worker.thread.CurrentTimeouts().connectSeconds, 10L);
    QCOMPARE(worker.thread.CurrentTimeouts().totalSeconds, 60L);
    worker.thread.SetTimeouts({1, 2});
    QVERIFY(worker.CheckAndWait(1));
    QCOMPARE(worker.replies.size(), 1);
    QVERIFY2(worker.replies.first().startsWith("Down page Failed Error Code is ") &&
                 worker.replies.first().endsWith(error),
             qPrintable(worker.replies.first()));
}

void TestCatchThread::noSignalWithoutCheck_data()
{
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<int>("arg");
    QTest::addColumn<bool>("threadsRunOut");
    QTest::newRow("argument other than 1") << QByteArray("127.0.0.23") << 2 << false;
    QTest::newRow("host without an IPv4 address") << QByteArray("::1") << 1 << false;
    QTest::newRow("empty host name") << QByteArray() << 1 << false;
    QTest::newRow("no thread left for the host lookup") << QByteArray("127.0.0.23") << 1 << true;
}

void TestCatchThread::noSignalWithoutCheck()
{
    QFETCH(QByteArray, host);
    QFETCH(int, arg);
    QFETCH(bool, threadsRunOut);
    LoopbackHttpServer server(23);
    QVERIFY(server.IsListening());
    server.SetAnswer(Once(LoopbackHttpServer::Reply(200, "<verno>1010</verno>")));

    Worker worker(host);
    {
        std::unique_ptr<NoNewThreads> noThreads;
        if (threadsRunOut)
            noThreads = std::make_unique<NoNewThreads>();
        QVERIFY(worker.CheckAndWait(arg));
    }
    QVERIFY(worker.thread.isRunning());
    QVERIFY(worker.replies.isEmpty());
    QCOMPARE(server.Requests().size(), 0);
}

void TestCatchThread::waitingWorkerSleeps_data()
{
    QTest::addColumn<QByteArray>("lookupHost");
    QTest::newRow("idle") << QByteArray();
    QTest::newRow("waiting for the host lookup") << QByteArray("slow-900.lookup");
}

void TestCatchThread::waitingWorkerSleeps()
{
    QFETCH(QByteArray, lookupHost);
    LoopbackHttpServer server(26);
    QVERIFY(server.IsListening());
    server.SetAnswer(Once(LoopbackHttpServer::Reply(200, "<verno>1009</verno>")));

    Worker worker(lookupHost.isEmpty() ? server.Host() : lookupHost);
    if (!lookupHost.isEmpty())
        worker.thread.RequestCheck(1);
    QTest::qWait(100);
    const qlonglong before = WorkerContextSwitches();
    QThread::msleep(500);
    const qlonglong switches = WorkerContextSwitches() - before;
    QVERIFY2(switches <= 2, qPrintable(QString("%1 context switches while waiting").arg(switches)));

    QTRY_COMPARE(worker.thread.Command(), 0);
    worker.thread.SetServerHost(server.Host());
    worker.thread.RequestCheck(1);
    QVERIFY(server.WaitForRequests(1, 2000));
    QTRY_COMPARE(worker.replies, QStringList{"<verno>1009</verno>"});
    QTRY_COMPARE(worker.thread.Command(), 0);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(worker.Stop(2000));
    QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
}

void TestCatchThread::requestDuringCheckRunsAfterIt()
{
    LoopbackHttpServer server(24);
    QVERIFY(server.IsListening());
    Answer slow;
    slow.pieces = {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nab", "cd"};
    server.SetAnswer(slow);

    Worker worker(server.Host());
    worker.thread.RequestCheck(1);
    QVERIFY(server.WaitForRequests(1, 5000));
    worker.thread.RequestCheck(1);
    QTRY_COMPARE(worker.replies, (QStringList{"abcd", "abcd"}));
    QTRY_COMPARE(worker.thread.Command(), 0);
    QTest::qWait(100);
    QCOMPARE(server.Requests().size(), 2);
}

void TestCatchThread::stopEndsStalledCheckQuickly_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("nothing sent") << QByteArray();
    QTest::newRow("inside the body")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n<ve");
}

void TestCatchThread::stopEndsStalledCheckQuickly()
{
    QFETCH(QByteArray, sent);
    LoopbackHttpServer server(25);
    QVERIFY(server.IsListening());
    Answer stalled;
    stalled.pieces = {sent};
    stalled.stall = true;
    server.SetAnswer(stalled);

    Worker worker(server.Host());
    worker.thread.RequestCheck(1);
    QVERIFY(server.WaitForRequests(1, 5000));
    QTest::qWait(200);
    // libcurl looks at the stop request at least once a second.
    QElapsedTimer clock;
    clock.start();
    QVERIFY(worker.Stop(5000));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
}

void TestCatchThread::closingWaitsBrieflyForLookup_data()
{
    QTest::addColumn<int>("lookupMs");
    QTest::addColumn<int>("stillInResolver");
    QTest::newRow("lookup ending within a second") << 500 << 0;
    QTest::newRow("lookup hanging on") << 2500 << 1;
}

// Static objects are destroyed right after the window: no lookup may still
// be inside the resolver then, yet closing may not wait on it for long.
void TestCatchThread::closingWaitsBrieflyForLookup()
{
    QFETCH(int, lookupMs);
    QFETCH(int, stillInResolver);
    auto worker = std::make_unique<Worker>("slow-" + QByteArray::number(lookupMs) + ".lookup");
    worker->thread.RequestCheck(1);
    QTRY_COMPARE_WITH_TIMEOUT(lookupsInResolver.load(), 1, 2000);

    QElapsedTimer clock;
    clock.start();
    worker.reset();
    const qint64 closingMs = clock.elapsed();
    QCOMPARE(lookupsInResolver.load(), stillInResolver);
    QVERIFY2(closingMs < 1500, qPrintable(QString::number(closingMs)));
    QTRY_COMPARE_WITH_TIMEOUT(lookupsInResolver.load(), 0, lookupMs + 1000);
}

void TestCatchThread::splitText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("separator");
    QTest::addColumn<QList<QByteArray>>("pieces");

    QTest::newRow("dotted address")
        << QByteArray("192.0.2.45") << QByteArray(".") << QList<QByteArray>{"192", "0", "2", "45"};
    QTest::newRow("blanks trimmed, leading tab kept")
        << QByteArray("  a \t, \tb  ") << QByteArray(",") << QList<QByteArray>{"a", "\tb"};
    QTest::newRow("empty pieces kept")
        << QByteArray("1..2.") << QByteArray(".") << QList<QByteArray>{"1", "", "2", ""};
    QTest::newRow("empty text is one empty piece")
        << QByteArray() << QByteArray(".") << QList<QByteArray>{""};
    QTest::newRow("separator of several bytes")
        << QByteArray("a::b") << QByteArray("::") << QList<QByteArray>{"a", "b"};
}

void TestCatchThread::splitText()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, separator);
    QFETCH(QList<QByteArray>, pieces);
    QCOMPARE(SplitText(text, separator), pieces);
}

void TestCatchThread::timeToken()
{
    const auto before = static_cast<qint64>(std::time(nullptr));
    const QByteArray plain = MakeTimeToken(false);
    const QByteArray withRandom = MakeTimeToken(true);
    const auto after = static_cast<qint64>(std::time(nullptr));

    QVERIFY(plain.toLongLong() >= before && plain.toLongLong() <= after);
    QCOMPARE(withRandom.size(), plain.size() + 3);
    const qint64 seconds = withRandom.left(plain.size()).toLongLong();
    QVERIFY(seconds >= before && seconds <= after);
    const int random = withRandom.right(3).toInt();
    QVERIFY(random >= 100 && random <= 599);
}

void TestCatchThread::extractBetween_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QByteArray>("result");

    QTest::newRow("pair among other text")
        << QByteArray("x<verno>1009</verno>y") << true << QByteArray("1009");
    QTest::newRow("first of two pairs")
        << QByteArray("<verno>1</verno><verno>2</verno>") << true << QByteArray("1");
    QTest::newRow("closing tag before the opening one")
        << QByteArray("</verno>1<verno>") << false << QByteArray();
    QTest::newRow("no closing tag") << QByteArray("<verno>1009") << false << QByteArray();
    QTest::newRow("empty between") << QByteArray("<verno></verno>") << true << QByteArray();
}

void TestCatchThread::extractBetween()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, found);
    QFETCH(QByteArray, result);
    QCOMPARE(ExtractBetween(text, "<verno>", "</verno>"), found);
    QCOMPARE(text, result);
}

QTEST_GUILESS_MAIN(TestCatchThread)
#include "tst_catchthread.moc"
