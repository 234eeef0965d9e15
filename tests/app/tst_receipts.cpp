#include "app/Pellory.h"
#include "app/ReceiptPrinter.h"
#include "receipt/ReceiptBytes.h"
#include "screens/CTPrinterDialog.h"
#include "screens/MessageBoxes.h"
#include "support_PrinterListener.h"
#include "support_TempStore.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSqlError>
#include <QTextCodec>
#include <QTextEdit>
#include <QtTest>

namespace {
PrinterSettings PrinterAt(const QString& connection)
{
    PrinterSettings printer;
    printer.connection = connection;
    printer.drawer = true;
    return printer;
}
} // namespace

class TestReceipts : public QObject
{
    Q_OBJECT
private slots:
    void init() { MessageBoxes::SetTestMode(true); }

    // The sale is stored and the pay returns before the printer is reached;
    // a receipt that did not print is told in the status bar alone.
    void payWithPrinter_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("told");
        QTest::newRow("printed, drawer opened") << int(PrinterListener::Reading) << "";
        QTest::newRow("refused") << int(PrinterListener::Refusing) << "小票未打印：连接打印机";
        QTest::newRow("never reads")
            << int(PrinterListener::NotReading) << "小票未打印：打印机在10秒内没有收完";
    }

    void payWithPrinter()
    {
        QFETCH(int, mode);
        QFETCH(QString, told);
        TempStore store;
        QVERIFY(
            !store.Exec("INSERT INTO products VALUES (101,'笔','6901234567890',10,1,'2','2','3.5')")
                 .lastError()
                 .isValid());
        PrinterListener printer{PrinterListener::Mode(mode)};
        QVERIFY(SavePrinterSettings(store.Dir(), PrinterAt(printer.Connection())));
        Pellory window(store.Dir());
        QVERIFY(window.findChild<QAction*>("drawerAction")->isVisible());
        auto* barcode = window.Tabs()->widget(0)->findChild<QLineEdit*>("le_barcode");
        QTest::keyClicks(barcode, "6901234567890");
        QTest::keyClick(barcode, Qt::Key_Return);
        MessageBoxes::SetNextAnswer(QMessageBox::Yes);
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(window.Tabs()->widget(0)->findChild<QPushButton*>("pb_pay"),
                          Qt::LeftButton);
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        const QString order = store.Scalar("SELECT order_guid FROM orders").toString();
        QVERIFY(!order.isEmpty());

        auto* failure = window.findChild<QLabel*>("lb_printFailure");
        if (told.isEmpty()) {
            QTRY_COMPARE(printer.Jobs(), 1);
            QVERIFY(printer.Received().contains(order.toLatin1()));
            QVERIFY(printer.Received().endsWith(DrawerPulse()));
            QVERIFY(failure->isHidden());
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(!failure->isHidden(), 11000);
        QVERIFY2(failure->text().startsWith(told), qPrintable(failure->text()));
        QVERIFY(clock.elapsed() < 11000);
        QCOMPARE(MessageBoxes::TakeShown().size(), 1);
    }

    // Read from the store, in the stored order of the lines.
    void reprintCarriesStoredOrder()
    {
        TempStore store;
        for (const char* row :
             {"INSERT INTO orders VALUES (301,'2026-12-08 18:00:00','12.5',2)",
              "INSERT INTO orderdetail VALUES (301,'2026-12-08 17:59:00','12.5','茶','102','0123',"
              "'1','9','9')",
              "INSERT INTO orderdetail VALUES (301,'2026-12-08 17:59:30','12.5','笔','101',"
              "'6901234567890','1','3.5','3.5')"})
            QVERIFY(!store.Exec(row).lastError().isValid());
        QTemporaryFile captured;
        QVERIFY(captured.open());
        const PrinterSettings settings = PrinterAt(captured.fileName());
        ReceiptPrinter printer(settings);
        QSignalSpy finished(&printer, &ReceiptPrinter::Finished);
        printer.Reprint("301");
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(finished[0][0].toString(), QString());
        const Receipt expected{"销售小票",
                               "补打",
                               "2026-12-08 18:00:00",
                               "301",
                               {{"茶", 1, 900, 900}, {"笔", 1, 350, 350}},
                               1250};
        QCOMPARE(captured.readAll(), ReceiptBytes(expected, settings, false));
    }

    // A file edited by hand in UTF-8 reads as written; what the dialog
    // writes reads back, the other sections untouched.
    void settingsReadBack()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("plconfig.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[config]\nclientuuid=abc\n[printer]\nconnection=/dev/usb/lp0\nwidth=80\n"
                   "encoding=gbk\nheader=小店 Shop\ndrawer=true\n");
        file.close();
        PrinterSettings read = LoadPrinterSettings(dir.path());
        QCOMPARE(QStringList({read.connection, read.encoding, read.header, read.footer}),
                 QStringList({"/dev/usb/lp0", "GBK", "小店 Shop", ""}));
        QVERIFY(read.width == 80 && read.autoPrint && read.drawer);

        CTPrinterDialog dialog(dir.path(), read);
        dialog.findChild<QLineEdit*>("le_footer")->setText("欢迎再来");
        dialog.findChild<QCheckBox*>("ck_autoprint")->setChecked(false);
        dialog.findChild<QComboBox*>("cb_width")->setCurrentText("58");
        const QString preview = dialog.findChild<QTextEdit*>("te_preview")->toPlainText();
        QVERIFY(preview.contains("小店 Shop") && preview.contains("欢迎再来"));
        QVERIFY(preview.contains(QString(32, '-') + '\n'));
        dialog.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        read = LoadPrinterSettings(dir.path());
        QCOMPARE(QStringList({read.header, read.footer}), QStringList({"小店 Shop", "欢迎再来"}));
        QVERIFY(read.width == 58 && !read.autoPrint && read.drawer);
        QCOMPARE(QSettings(file.fileName(), QSettings::IniFormat).value("config/clientuuid"),
                 QVariant("abc"));
    }

    void testPrintTellsTheResult_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("told");
        QTest::newRow("printed") << int(PrinterListener::Reading) << "测试页已发送到打印机";
        QTest::newRow("refused") << int(PrinterListener::Refusing) << "测试页未打印：连接打印机";
    }

    void testPrintTellsTheResult()
    {
        QFETCH(int, mode);
        QFETCH(QString, told);
        QTemporaryDir dir;
        PrinterListener printer{PrinterListener::Mode(mode)};
        CTPrinterDialog dialog(dir.path(), PrinterAt(printer.Connection()));
        auto* button = dialog.findChild<QPushButton*>("pb_testprint");
        button->click();
        // Back once the result is told.
        QVERIFY(!button->isEnabled());
        QTRY_VERIFY(button->isEnabled());
        const QList<MessageBoxes::Shown> shown = MessageBoxes::TakeShown();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].text.startsWith(told), qPrintable(shown[0].text));
        QCOMPARE(printer.Received().contains(
                     QTextCodec::codecForName("GB18030")->fromUnicode("销售小票")),
                 mode == PrinterListener::Reading);
    }
};

QTEST_MAIN(TestReceipts)
#include "tst_receipts.moc"
