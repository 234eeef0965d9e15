#include "receipt/PrintQueue.h"
#include "receipt/ReceiptBytes.h"
#include "support_PrinterListener.h"

#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

Q_DECLARE_METATYPE(PrinterSettings)

namespace {
const QByteArray kEnd = QByteArrayLiteral("\x1b\x64\x04\x1d\x56\x42\x00");
const Receipt kSale{"销售小票",
                    "",
                    "2026-12-09 10:30:00",
                    "1234567890123456789",
                    {{"笔", 2, 350, 700}, {"茶 Green Tea", 1, 1200, 1200}},
                    1900};

QString S(int spaces)
{
    return QString(spaces, ' ');
}

PrinterSettings Printer(int width, const QString& encoding)
{
    PrinterSettings printer;
    printer.width = width;
    printer.encoding = encoding;
    return printer;
}
} // namespace

class TestReceipt : public QObject
{
    Q_OBJECT
private slots:
    void receiptBytes_data()
    {
        QTest::addColumn<PrinterSettings>("printer");
        QTest::addColumn<bool>("drawer");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QByteArray>("end");
        QTest::addColumn<QByteArray>("title");
        PrinterSettings shop = Printer(58, "GB18030");
        shop.header = "小店";
        shop.footer = " 谢谢惠顾 ";
        QTest::newRow("58 mm GB18030")
            << shop << false
            << QStringList{S(14) + "小店",
                           S(12) + "销售小票",
                           "2026-12-09 10:30:00",
                           "订单号" + S(7) + "1234567890123456789",
                           "笔",
                           "  2 × 3.50" + S(17) + "7.00",
                           "茶 Green Tea",
                           "  1 × 12.00" + S(15) + "12.00",
                           QString(32, '-'),
                           "件数" + S(27) + "3",
                           "合计" + S(23) + "19.00",
                           S(12) + "谢谢惠顾"}
            << QByteArray("\x1b\x40\x1c\x26") << kEnd
            << S(12).toLatin1() + QByteArray::fromHex("cffacadbd0a1c6b1");
        QTest::newRow("80 mm UTF-8, drawer")
            << Printer(80, "UTF-8") << true
            << QStringList{S(20) + "销售小票",
                           "2026-12-09 10:30:00",
                           "订单号" + S(23) + "1234567890123456789",
                           "笔",
                           "  2 × 3.50" + S(34) + "7.00",
                           "茶 Green Tea",
                           "  1 × 12.00" + S(32) + "12.00",
                           QString(48, '-'),
                           "件数" + S(43) + "3",
                           "合计" + S(39) + "19.00"}
            << QByteArray("\x1b\x40") << kEnd + QByteArray::fromHex("1b700019fa")
            << S(20).toLatin1() + QByteArray::fromHex("e99480e594aee5b08fe7a5a8");
    }

    void receiptBytes()
    {
        QFETCH(PrinterSettings, printer);
        QFETCH(bool, drawer);
        QFETCH(QStringList, lines);
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, end);
        QFETCH(QByteArray, title);
        QCOMPARE(ReceiptText(kSale, printer), lines);
        const QByteArray bytes = ReceiptBytes(kSale, printer, drawer);
        QTextCodec* codec = QTextCodec::codecForName(printer.encoding.toLatin1());
        QCOMPARE(bytes, start + codec->fromUnicode(lines.join('\n') + '\n') + end);
        QVERIFY(bytes.contains(title + '\n'));
    }

    // A name is wrapped at whole characters, a wide one never split at the edge.
    void longNamesWrapWhole_data()
    {
        QTest::addColumn<PrinterSettings>("printer");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("58 mm") << Printer(58, "GB18030")
                               << QStringList{"Nongfu Spring 农夫山泉天然矿泉水",
                                              " 550ml×24瓶 整箱装（限时特价）"};
        QTest::newRow("80 mm, one column left")
            << Printer(80, "GBK")
            << QStringList{"Nongfu Spring 农夫山泉天然矿泉水 550ml×24瓶 整", "箱装（限时特价）"};
        QTest::newRow("80 mm UTF-8")
            << Printer(80, "UTF-8")
            << QStringList{"Nongfu Spring 农夫山泉天然矿泉水 550ml×24瓶 整箱", "装（限时特价）"};
    }

    void longNamesWrapWhole()
    {
        QFETCH(PrinterSettings, printer);
        QFETCH(QStringList, lines);
        Receipt receipt = kSale;
        receipt.lines = {{lines.join(QString()), 1, 100, 100}};
        const QStringList text = ReceiptText(receipt, printer);
        QCOMPARE(text.mid(3, 3), lines + QStringList{text[5]});
        QVERIFY(text[5].startsWith("  1 × 1.00 "));
    }

    void parsesConnections_data()
    {
        QTest::addColumn<QString>("connection");
        QTest::addColumn<QString>("route");
        QTest::newRow("none") << " "
                              << "none";
        QTest::newRow("usb") << "/dev/usb/lp0"
                             << "file /dev/usb/lp0";
        QTest::newRow("tcp") << "tcp://192.168.1.50"
                             << "tcp 192.168.1.50:9100";
        QTest::newRow("tcp port") << "TCP://printer:9200"
                                  << "tcp printer:9200";
        QTest::newRow("tcp no host") << "tcp://:9100"
                                     << "tcp :9100 unusable";
        QTest::newRow("serial") << "serial:/dev/ttyS0"
                                << "serial /dev/ttyS0 9600";
        QTest::newRow("serial baud") << "serial:/dev/ttyUSB0?baud=19200"
                                     << "serial /dev/ttyUSB0 19200";
        QTest::newRow("serial bad baud") << "serial:/dev/ttyUSB0?baud=fast"
                                         << "serial /dev/ttyUSB0 0 unusable";
    }

    void parsesConnections()
    {
        QFETCH(QString, connection);
        QFETCH(QString, route);
        const PrinterRoute parsed = ParsePrinterRoute(connection);
        const QString kind = QStringList{"none", "file", "tcp", "serial"}.value(parsed.kind);
        QString shown = parsed.kind == PrinterRoute::None ? kind : kind + ' ' + parsed.target;
        if (parsed.kind == PrinterRoute::Tcp)
            shown += ':' + QString::number(parsed.port);
        if (parsed.kind == PrinterRoute::Serial)
            shown += ' ' + QString::number(parsed.baud);
        QCOMPARE(parsed.error.isEmpty() ? shown : shown + " unusable", route);
    }

    // Two receipts go out as two whole jobs, one after the other.
    void jobsReachThePrinter_data()
    {
        QTest::addColumn<QString>("route");
        QTest::addColumn<QString>("failure");
        QTest::newRow("file") << "file"
                              << "";
        QTest::newRow("unplugged device is not made") << "missing"
                                                      << "无法打开";
        QTest::newRow("network") << "tcp"
                                 << "";
        QTest::newRow("serial") << "serial"
                                << "";
    }

    void jobsReachThePrinter()
    {
        QFETCH(QString, route);
        QFETCH(QString, failure);
        QTemporaryDir dir;
        const QString device = dir.filePath("lp0");
        QString connection = device;
        QByteArray received;
        PrinterListener listener;
        QProcess socat;
        QSerialPort printerSide(dir.filePath("printer"));
        if (route == "file") {
            QVERIFY(QFile(device).open(QIODevice::WriteOnly));
        } else if (route == "tcp") {
            connection = listener.Connection();
        } else if (route == "serial") {
            socat.start("socat", {"pty,raw,echo=0,link=" + dir.filePath("printer"),
                                  "pty,raw,echo=0,link=" + dir.filePath("till")});
            QTRY_VERIFY(QFile::exists(dir.filePath("printer")) &&
                        QFile::exists(dir.filePath("till")));
            QVERIFY(printerSide.open(QIODevice::ReadOnly));
            connect(&printerSide, &QSerialPort::readyRead,
                    [&] { received += printerSide.readAll(); });
            connection = "serial:" + dir.filePath("till") + "?baud=19200";
        }
        const QByteArray job = ReceiptBytes(kSale, Printer(58, "GB18030"), true);
        PrintQueue queue;
        QSignalSpy finished(&queue, &PrintQueue::Finished);
        queue.Send(connection, job);
        queue.Send(connection, job);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 12000);
        for (const QList<QVariant>& answer : finished) {
            const QString reason = answer[0].toString();
            QVERIFY2(failure.isEmpty() ? reason.isEmpty() : reason.startsWith(failure),
                     qPrintable(reason));
        }
        if (!failure.isEmpty()) {
            QVERIFY(!QFile::exists(device));
            return;
        }
        if (route == "file") {
            QFile file(device);
            QVERIFY(file.open(QIODevice::ReadOnly));
            received = file.readAll();
        } else if (route == "tcp") {
            QTRY_COMPARE(listener.Jobs(), 2);
            received = listener.Received();
        }
        QTRY_COMPARE(received, job + job);
        socat.kill();
        socat.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestReceipt)
#include "tst_receipt.moc"
