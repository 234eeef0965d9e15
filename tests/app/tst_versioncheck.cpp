#include "app/Pellory.h"
#include "screens/MessageBoxes.h"
#include "store/StockDb.h"
#include "support_LoopbackHttpServer.h"
#include "support_TempStore.h"
#include "support_UrlCatcher.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QTableView>
#include <QUrl>
#include <QWindow>
#include <QtTest>
#include <memory>

class TestVersionCheck : public QObject
{
    Q_OBJECT
private slots:
    void init() { MessageBoxes::SetTestMode(true); }
    void handleReply_data();
    void handleReply();
    void offerLeavesScansToCheckout();
    void checkRunsThroughTheWindow();
    void closingDuringStalledCheckIsQuick();
};

void TestVersionCheck::handleReply_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<QString>("info");
    QTest::addColumn<QList<QUrl>>("opened");

    const QString offer = "<verno>%1</verno><title>店铺 2</title><newinfo>修正了结算</newinfo>"
                          "<downurl>%2</downurl>";
    const QString webAddress = "https://example.org/get?v=1010";
    const QString info = "修正了结算";
    const int yes = QMessageBox::Yes;
    const int no = QMessageBox::No;

    QTest::newRow("same build sets the title")
        << offer.arg("1009", webAddress) << no << "店铺 2" << false << "" << QList<QUrl>();
    QTest::newRow("same build without a title empties it")
        << "<verno>1009</verno>" << no << "" << false << "" << QList<QUrl>();
    QTest::newRow("newer build, yes opens the address")
        << offer.arg("1010", webAddress) << yes << "店铺 2" << true << info
        << QList<QUrl>{QUrl(webAddress)};
    QTest::newRow("older build also counts as another")
        << offer.arg("1008", "http://example.org/") << yes << "店铺 2" << true << info
        << QList<QUrl>{QUrl("http://example.org/")};
    QTest::newRow("no leaves the browser closed")
        << offer.arg("1010", webAddress) << no << "店铺 2" << true << info << QList<QUrl>();
    QTest::newRow("incomplete build pair counts as another build")
        << "verno<title>T</title><verno>1009" << no << "T" << true << "" << QList<QUrl>();
    QTest::newRow("local file address is not opened")
        << offer.arg("1010", "file:///usr/bin/xterm") << yes << "店铺 2" << true << info
        << QList<QUrl>();
    QTest::newRow("mail address is not opened") << offer.arg("1010", "mailto:a@example.org") << yes
                                                << "店铺 2" << true << info << QList<QUrl>();
    QTest::newRow("markup and title marker are shown as written")
        << "<verno>1010</verno><title><b>店铺</b> [*]</title><newinfo><table><tr><td>新</td>"
           "</tr></table><img src=\"file:///etc/passwd\"></newinfo>"
        << no << "<b>店铺</b> [*]" << true
        << "<table><tr><td>新</td></tr></table><img src=\"file:///etc/passwd\">" << QList<QUrl>();
    QTest::newRow("reply under 5 bytes is ignored")
        << "vern" << no << "before" << false << "" << QList<QUrl>();
    QTest::newRow("fetch error text is ignored")
        << "Down page Failed Error Code is 0=Couldn't connect to server" << no << "before" << false
        << "" << QList<QUrl>();
}

void TestVersionCheck::handleReply()
{
    QFETCH(QString, reply);
    QFETCH(int, answer);
    QFETCH(QString, title);
    QFETCH(bool, asked);
    QFETCH(QString, info);
    QFETCH(QList<QUrl>, opened);

    TempStore store;
    Pellory window(store.Dir());
    window.setWindowTitle("before");
    // The title as the window system gets it, markers resolved.
    window.winId();
    UrlCatcher browser;
    if (asked)
        MessageBoxes::SetNextAnswer(static_cast<QMessageBox::StandardButton>(answer));

    // The second is a check asked for before the offer: it offers nothing more.
    for (int check = 0; check < 2; ++check)
        QVERIFY(QMetaObject::invokeMethod(&window, "HandleCatchResult", Q_ARG(QString, reply)));

    QCOMPARE(window.windowHandle()->title(), title);
    QCOMPARE(window.CheckVerTimer()->isActive(), !asked);
    const QList<MessageBoxes::Shown> shown = MessageBoxes::TakeShown();
    QCOMPARE(shown.size(), asked ? 1 : 0);
    if (asked) {
        QCOMPARE(shown[0].icon, QMessageBox::Question);
        QCOMPARE(shown[0].title, QString("发现新版本 是否下载"));
        QCOMPARE(shown[0].text, info);
        QCOMPARE(shown[0].textFormat, Qt::PlainText);
    }
    QCOMPARE(browser.opened, opened);
}

// The offer comes when nobody asked: a scan's keys still go to the barcode
// field, as the window system sends them, and the offer waits for a click.
void TestVersionCheck::offerLeavesScansToCheckout()
{
    TempStore store;
    QVERIFY(stockDb.InsertProduct("900", "可乐", "6901", "5", "1", "2", "3.5"));
    Pellory window(store.Dir());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    UrlCatcher browser;
    MessageBoxes::SetTestMode(false);
    bool scanned = false;
    QTimer::singleShot(100, &window, [&scanned] {
        for (const Qt::Key key : {Qt::Key_6, Qt::Key_9, Qt::Key_0, Qt::Key_1, Qt::Key_Return})
            QTest::keyClick(QGuiApplication::focusWindow(), key);
        scanned = true;
    });
    QTimer::singleShot(2000, &window, [] {
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
    });
    QVERIFY(QMetaObject::invokeMethod(
        &window, "HandleCatchResult",
        Q_ARG(QString, "<verno>1010</verno><downurl>http://a/</downurl>")));
    QTRY_VERIFY(scanned);

    auto* sale = window.Tabs()->widget(0)->findChild<QTableView*>("tv_salelist");
    QCOMPARE(sale->model()->rowCount(), 1);
    auto* offer = window.findChild<QMessageBox*>();
    QVERIFY(offer && offer->isVisible());
    QTest::mouseClick(offer->button(QMessageBox::Yes), Qt::LeftButton);
    QCOMPARE(browser.opened, QList<QUrl>{QUrl("http://a/")});
}

void TestVersionCheck::checkRunsThroughTheWindow()
{
    LoopbackHttpServer server(31);
    QVERIFY(server.IsListening());
    LoopbackHttpServer::Answer answer;
    answer.pieces = {
        LoopbackHttpServer::Reply(200, QString("<verno>1009</verno><title>店铺</title>").toUtf8())};
    server.SetAnswer(answer);

    TempStore store;
    Pellory window(store.Dir());
    window.CatchThread()->SetServerHost(server.Host());
    QVERIFY(QMetaObject::invokeMethod(&window, "OnHandleCheckVerTimeOut"));
    QTRY_COMPARE(window.windowTitle(), QString("店铺"));
    QVERIFY(window.CheckVerTimer()->isActive());
    QVERIFY(MessageBoxes::TakeShown().isEmpty());
}

void TestVersionCheck::closingDuringStalledCheckIsQuick()
{
    LoopbackHttpServer server(32);
    QVERIFY(server.IsListening());
    LoopbackHttpServer::Answer stalled;
    stalled.pieces = {"HTTP/1.1 200 OK\r\nContent-Length: 99\r\n\r\n<verno>"};
    stalled.stall = true;
    server.SetAnswer(stalled);

    TempStore store;
    auto window = std::make_unique<Pellory>(store.Dir());
    window->CatchThread()->SetServerHost(server.Host());
    QVERIFY(QMetaObject::invokeMethod(window.get(), "OnHandleCheckVerTimeOut"));
    QVERIFY(server.WaitForRequests(1, 5000));
    // libcurl looks at the stop request at least once a second.
    QElapsedTimer clock;
    clock.start();
    window.reset();
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
}

QTEST_MAIN(TestVersionCheck)
#include "tst_versioncheck.moc"

// The loopback server lives with the update tests; only that area links it.
