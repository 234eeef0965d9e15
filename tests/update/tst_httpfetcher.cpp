#include "support_LoopbackHttpServer.h"
#include "update/HttpFetcher.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {
using Answer = LoopbackHttpServer::Answer;

const QByteArray kUserAgent = "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, "
                              "like Gecko) Chrome/36.0.1985.143 Safari/537.36";

// A fetcher owning its handle, as the version check's worker does.
struct OwnedFetcher : HttpFetcher
{
    OwnedFetcher() { SetHandle(curl_easy_init()); }
    ~OwnedFetcher() { curl_easy_cleanup(Handle()); }
};

QByteArray Failure(long httpCode, CURLcode code)
{
    return "Down page Failed Error Code is " +
           QByteArray::number(static_cast<qlonglong>(httpCode)) + "=" + curl_easy_strerror(code);
}

Answer Pieces(const QList<QByteArray>& pieces)
{
    Answer answer;
    answer.pieces = pieces;
    return answer;
}

Answer Once(const QByteArray& reply)
{
    return Pieces({reply});
}
} // namespace

Q_DECLARE_METATYPE(HttpFetchOptions)
Q_DECLARE_METATYPE(Answer)

class TestHttpFetcher : public QObject
{
    Q_OBJECT
private slots:
    void sendsHeaderLinesAndUserAgent_data();
    void sendsHeaderLinesAndUserAgent();
    void gzipReplyIsDecoded();
    void everyFetchOpensItsOwnConnection();
    void statusAndBody_data();
    void statusAndBody();
    void noConnectionReportsCodeZero();
    void missingHandle();
    void oversizedBodyIsRefused_data();
    void oversizedBodyIsRefused();
    void redirects_data();
    void redirects();
    void onlyWebAddresses_data();
    void onlyWebAddresses();
    void selfSignedCertificateIsRefused_data();
    void selfSignedCertificateIsRefused();
};

void TestHttpFetcher::sendsHeaderLinesAndUserAgent_data()
{
    QTest::addColumn<HttpFetchOptions>("options");
    QTest::addColumn<QList<QByteArray>>("expected");

    const QList<QByteArray> defaults = {
        "Accept:text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8",
        "Accept-Charset:GBK,utf-8;q=0.7,*;q=0.3",
        "Accept-Language:zh-CN,zh;q=0.8",
        "Accept-Encoding:gzip,deflate,sdch",
    };
    QTest::newRow("the four default lines") << HttpFetchOptions() << defaults;

    HttpFetchOptions extras;
    extras.extraHeader1 = "X-First:1";
    extras.extraHeader2 = "X-Second:2";
    QTest::newRow("extra lines after the defaults")
        << extras << (defaults + QList<QByteArray>{"X-First:1", "X-Second:2"});

    HttpFetchOptions own;
    own.headerLines = {"Accept:text/plain", "", "Accept-Encoding:gzip"};
    own.extraHeader2 = "X-Second:2";
    QTest::newRow("own lines replace the defaults, empty ones dropped")
        << own << QList<QByteArray>{"Accept:text/plain", "Accept-Encoding:gzip", "X-Second:2"};
}

void TestHttpFetcher::sendsHeaderLinesAndUserAgent()
{
    QFETCH(HttpFetchOptions, options);
    QFETCH(QList<QByteArray>, expected);
    LoopbackHttpServer server(2);
    QVERIFY(server.IsListening());
    server.SetAnswer(Once(LoopbackHttpServer::Reply(200, "ok")));

    OwnedFetcher fetcher;
    fetcher.options = options;
    QByteArray output;
    QVERIFY(fetcher.Fetch(output, server.Url("/page?a=1"), 10));
    QCOMPARE(output, QByteArray("ok"));

    QCOMPARE(server.Requests().size(), 1);
    const LoopbackHttpServer::Request request = server.Requests().first();
    QCOMPARE(request.requestLine, QByteArray("GET /page?a=1 HTTP/1.1"));
    QCOMPARE(request.Header("User-Agent"), kUserAgent);
    QList<QByteArray> received;
    for (const QByteArray& line : request.headerLines) {
        if (line.startsWith("Accept") || line.startsWith("X-"))
            received << line;
    }
    QCOMPARE(received, expected);
}

void TestHttpFetcher::gzipReplyIsDecoded()
{
    LoopbackHttpServer server(3);
    QVERIFY(server.IsListening());
    const QByteArray text = QString("<verno>1010</verno><title>新标题</title>").toUtf8();
    server.SetAnswer(
        Once(LoopbackHttpServer::Reply(200, GzipBody(text), "Content-Encoding: gzip\r\n")));

    OwnedFetcher fetcher;
    QByteArray output;
    QVERIFY(fetcher.Fetch(output, server.Url("/"), 10));
    QCOMPARE(output, text);
}

void TestHttpFetcher::everyFetchOpensItsOwnConnection()
{
    LoopbackHttpServer server(4);
    QVERIFY(server.IsListening());
    // The server would keep the connection for a second request.
    server.SetAnswer(Once(LoopbackHttpServer::Reply(200, "ok")));

    OwnedFetcher fetcher;
    QByteArray output;
    QVERIFY(fetcher.Fetch(output, server.Url("/one"), 10));
    QVERIFY(fetcher.Fetch(output, server.Url("/two"), 10));
    const QList<LoopbackHttpServer::Request> requests = server.Requests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[0].connection, 1);
    QCOMPARE(requests[1].connection, 2);
    QCOMPARE(fetcher.PrimaryIp(), QByteArray("127.0.0.4"));
    QCOMPARE(fetcher.EffectiveUrl(), server.Url("/two"));
}

void TestHttpFetcher::statusAndBody_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("output");

    QTest::newRow("error page with a body is a success")
        << Once(LoopbackHttpServer::Reply(404, "not here")) << true << QByteArray("not here");
    QTest::newRow("empty 200 is a success")
        << Once(LoopbackHttpServer::Reply(200, "")) << true << QByteArray();
    QTest::newRow("empty error page fails")
        << Once(LoopbackHttpServer::Reply(500, "")) << false << Failure(500, CURLE_OK);

    const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\n";
    QTest::newRow("zero byte cuts only its own chunk")
        << Pieces({head + QByteArray("AB\0CD", 5), "EFG"}) << true << QByteArray("ABEFG");

    // Part of a body is no reply: the connection closed 90 bytes short.
    QTest::newRow("body cut short fails")
        << Once("HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n0123456789")
        << false << Failure(200, CURLE_PARTIAL_FILE);
}

void TestHttpFetcher::statusAndBody()
{
    QFETCH(Answer, answer);
    QFETCH(bool, ok);
    QFETCH(QByteArray, output);
    LoopbackHttpServer server(5);
    QVERIFY(server.IsListening());
    server.SetAnswer(answer);

    OwnedFetcher fetcher;
    QByteArray received = "stale";
    QCOMPARE(fetcher.Fetch(received, server.Url("/"), 10), ok);
    QCOMPARE(received, output);
}

void TestHttpFetcher::noConnectionReportsCodeZero()
{
    OwnedFetcher fetcher;
    QByteArray output;
    // Nothing listens on 127.0.0.6.
    QVERIFY(!fetcher.Fetch(output, "http://127.0.0.6:7006/", 10));
    QCOMPARE(output, Failure(0, CURLE_COULDNT_CONNECT));
    QCOMPARE(fetcher.HttpCode(), 0L);
}

void TestHttpFetcher::missingHandle()
{
    HttpFetcher fetcher;
    QByteArray output;
    QVERIFY(!fetcher.Fetch(output, "http://127.0.0.6:7006/", 10));
    QCOMPARE(output, QByteArray("curl_easy_init Failed"));
}

void TestHttpFetcher::oversizedBodyIsRefused_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<bool>("ok");

    const QByteArray twoMiB(2 * 1024 * 1024, 'x');
    QTest::newRow("announced length") << Once(LoopbackHttpServer::Reply(200, twoMiB)) << false;
    QTest::newRow("length not announced")
        << Once("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + twoMiB) << false;
    QTest::newRow("small gzip inflating past the limit")
        << Once(LoopbackHttpServer::Reply(200, GzipBody(twoMiB), "Content-Encoding: gzip\r\n"))
        << false;
    QTest::newRow("exactly the limit") << Once("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" +
                                               QByteArray(HttpFetcher::kMaxBodyBytes, 'x'))
                                       << true;
}

void TestHttpFetcher::oversizedBodyIsRefused()
{
    QFETCH(Answer, answer);
    QFETCH(bool, ok);
    LoopbackHttpServer server(7);
    QVERIFY(server.IsListening());
    server.SetAnswer(answer);

    OwnedFetcher fetcher;
    QByteArray output;
    QCOMPARE(fetcher.Fetch(output, server.Url("/"), 10), ok);
    if (ok)
        QCOMPARE(output.size(), HttpFetcher::kMaxBodyBytes);
    else
        QCOMPARE(output, Failure(200, CURLE_FILESIZE_EXCEEDED));
}

void TestHttpFetcher::redirects_data()
{
    QTest::addColumn<QByteArray>("location");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QByteArray>("output");

    QTest::newRow("to a web page, followed")
        << QByteArray("/target") << true << 2 << QByteArray("arrived");
    QTest::newRow("to a local file, refused") << QByteArray("file:///etc/hostname") << false << 1
                                              << Failure(302, CURLE_UNSUPPORTED_PROTOCOL);
    QTest::newRow("to an ftp address, refused") << QByteArray("ftp://127.0.0.6:7006/") << false << 1
                                                << Failure(302, CURLE_UNSUPPORTED_PROTOCOL);
    QTest::newRow("endless chain, cut off")
        << QByteArray("/start") << false << int(HttpFetcher::kMaxRedirects) + 1
        << Failure(302, CURLE_TOO_MANY_REDIRECTS);
}

void TestHttpFetcher::redirects()
{
    QFETCH(QByteArray, location);
    QFETCH(bool, ok);
    QFETCH(int, requests);
    QFETCH(QByteArray, output);
    LoopbackHttpServer server(8);
    QVERIFY(server.IsListening());
    server.SetAnswer(
        "/start", Once(LoopbackHttpServer::Reply(302, "moved", "Location: " + location + "\r\n")));
    server.SetAnswer("/target", Once(LoopbackHttpServer::Reply(200, "arrived")));

    OwnedFetcher fetcher;
    QByteArray received;
    QCOMPARE(fetcher.Fetch(received, server.Url("/start"), 10), ok);
    QCOMPARE(received, output);
    QCOMPARE(server.Requests().size(), requests);
}

void TestHttpFetcher::onlyWebAddresses_data()
{
    QTest::addColumn<QByteArray>("url");
    QTest::newRow("local file") << QByteArray("file:///etc/hostname");
    QTest::newRow("ftp") << QByteArray("ftp://127.0.0.6:7006/");
}

void TestHttpFetcher::onlyWebAddresses()
{
    QFETCH(QByteArray, url);
    OwnedFetcher fetcher;
    QByteArray output;
    QVERIFY(!fetcher.Fetch(output, url, 10));
    QCOMPARE(output, Failure(0, CURLE_UNSUPPORTED_PROTOCOL));
}

void TestHttpFetcher::selfSignedCertificateIsRefused_data()
{
    QTest::addColumn<QByteArray>("scheme");
    QTest::addColumn<bool>("skipTlsVerify");
    QTest::addColumn<bool>("ok");

    QTest::newRow("https") << QByteArray("https") << false << false;
    QTest::newRow("HTTPS in capitals") << QByteArray("HTTPS") << false << false;
    QTest::newRow("checks switched off on request") << QByteArray("https") << true << true;
}

void TestHttpFetcher::selfSignedCertificateIsRefused()
{
    QFETCH(QByteArray, scheme);
    QFETCH(bool, skipTlsVerify);
    QFETCH(bool, ok);
    const QString openssl = QStandardPaths::findExecutable("openssl");
    if (openssl.isEmpty())
        QSKIP("no openssl command to run a TLS server with");

    QTemporaryDir dir;
    const QString key = dir.filePath("key.pem");
    const QString cert = dir.filePath("cert.pem");
    QCOMPARE(QProcess::execute(openssl, {"req", "-x509", "-newkey", "ec", "-pkeyopt",
                                         "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1",
                                         "-subj", "/CN=127.0.0.9", "-keyout", key, "-out", cert}),
             0);
    QProcess server;
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start(openssl,
                 {"s_server", "-www", "-accept", "127.0.0.9:7009", "-cert", cert, "-key", key});
    QVERIFY(server.waitForStarted());
    // It says ACCEPT once it listens.
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += server.readAllStandardOutput()).contains("ACCEPT"), 5000);

    OwnedFetcher fetcher;
    fetcher.options.skipTlsVerify = skipTlsVerify;
    QByteArray output;
    const bool fetched = fetcher.Fetch(output, scheme + "://127.0.0.9:7009/", 10);
    server.kill();
    server.waitForFinished();
    QCOMPARE(fetched, ok);
    if (!ok)
        QCOMPARE(output, Failure(0, CURLE_PEER_FAILED_VERIFICATION));
}

QTEST_GUILESS_MAIN(TestHttpFetcher)
#include "tst_httpfetcher.moc"
