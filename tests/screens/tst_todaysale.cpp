#include "screens/CTTodaySale.h"
#include "screens/MessageBoxes.h"
#include "store/StockDb.h"
#include "support_ScreenTest.h"
#include "support_TempStore.h"

#include <QApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSqlError>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>

namespace {
const QString kTitle = QStringLiteral("Quorrin1009");
const QString kEmptyInfo = QStringLiteral("商品数：【0】\n\n统计金额：");
constexpr int Time = 0, Name = 1, Quantity = 3, Subtotal = 4, Barcode = 5;
const QString kConfirmPay = QStringLiteral("请先确认订单信息无误，是否继续结算");

// Counts the layout passes asked of a widget.
class LayoutRequests : public QObject
{
public:
    explicit LayoutRequests(QWidget* watched) { watched->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        count += event->type() == QEvent::LayoutRequest;
        return false;
    }
    int count = 0;
};
} // namespace

class TodaySaleTest : public QObject
{
    Q_OBJECT

    QScopedPointer<TempStore> store;
    // The screen lives in a tab page as in the main window: embedded, a
    // dialog picks no default button, so Return only scans.
    QScopedPointer<QTabWidget> host;
    CTTodaySale* screen = nullptr;
    QLineEdit* barcode = nullptr;
    QTableView* view = nullptr;
    QLabel* info = nullptr;
    QLabel* total = nullptr;

    QAbstractItemModel* Model() const { return view->model(); }
    QString Cell(int row, int column) const
    {
        return Model()->index(row, column).data().toString();
    }

    void Scan(const QString& code)
    {
        QTest::keyClicks(barcode, code);
        QTest::keyClick(barcode, Qt::Key_Return);
    }

    void EditQuantity(int row, const QString& typed)
    {
        const QModelIndex index = Model()->index(row, Quantity);
        view->edit(index);
        QWidget* editor = view->indexWidget(index);
        QVERIFY(editor);
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(editor, Qt::Key_Backspace);
        QTest::keyClicks(editor, typed);
        QTest::keyClick(editor, Qt::Key_Return);
        // Return leaves a refused entry open; the cashier goes back to scanning.
        if (view->indexWidget(index))
            barcode->setFocus(Qt::MouseFocusReason);
        QTRY_VERIFY(!view->indexWidget(index));
    }

    void Pay(QMessageBox::StandardButton answer)
    {
        MessageBoxes::SetNextAnswer(answer);
        QTest::mouseClick(screen->findChild<QPushButton*>("pb_pay"), Qt::LeftButton);
    }

    void CheckNothingStored()
    {
        QVERIFY(StoredRows("orders").isEmpty() && StoredRows("orderdetail").isEmpty());
    }

    static QString Box(QMessageBox::Icon icon, const QString& text)
    {
        return QString("%1 %2: %3").arg(icon).arg(kTitle, text);
    }

private slots:
    void init()
    {
        MessageBoxes::SetTestMode(true);
        store.reset(new TempStore);
        QVERIFY(store->IsOpen());
        QVERIFY(!store
                     ->Exec("INSERT INTO products VALUES (101,'笔','6901234567890',10,1,'2','2',"
                            "'3.5'), (102,'茶','0123',5,1,'9','9','12.00'), (103,'糖','777',5,1,"
                            "'1','1',''), (104,'表','4567',1,1,'1','1','4567.89'), (105,'车',"
                            "'1234567',1,1,'1','1','1234567')")
                     .lastError()
                     .isValid());
        screen = new CTTodaySale;
        host.reset(new QTabWidget);
        host->addTab(screen, QStringLiteral("今日出货"));
        barcode = screen->findChild<QLineEdit*>("le_barcode");
        view = screen->findChild<QTableView*>("tv_salelist");
        info = screen->findChild<QLabel*>("lb_detailInfo");
        total = screen->findChild<QLabel*>("lb_totalprice");
        host->show();
        QVERIFY(QTest::qWaitForWindowActive(host.data()));
        screen->FocusBarcodeInput();
    }

    void cleanup()
    {
        host.reset();
        store.reset();
    }

    void scan_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("subtotal");
        QTest::addColumn<QString>("totalText");
        const auto row = [](const char* tag, QString code, QString name, QString sub, QString sum) {
            QTest::newRow(tag) << code << name << sub << sum;
        };
        row("ean-13", "6901234567890", "笔", "3.5", "3.50");
        row("leading zero", "0123", "茶", "12", "12.00");
        row("no retail price", "777", "糖", "0", "0.00");
        row("unknown", "999", "", "", "0.0");
        row("not a number", "12a'", "", "", "0.0");
    }

    void scan()
    {
        QFETCH(QString, code);
        QFETCH(QString, name);
        QFETCH(QString, subtotal);
        QFETCH(QString, totalText);
        // At the main window's first size, a scan repaints what it changed
        // and lays nothing out anew: that took most of a scan's time.
        host->resize(975, 529);
        QCoreApplication::processEvents();
        LayoutRequests relayouts(screen->findChild<QWidget*>("groupBox"));
        Scan(code);
        QCoreApplication::processEvents();
        QCOMPARE(relayouts.count, 0);
        // The order's box, painted from its picture after the scan, shows as
        // Qt paints it and what is behind it.
        auto* box = screen->findChild<QWidget*>("groupBox");
        const QRect area(box->mapTo(host.data(), QPoint()), box->size());
        const auto onScreen = [this, area] {
            return host->screen()
                ->grabWindow(host->winId())
                .toImage()
                .copy(area)
                .convertToFormat(QImage::Format_RGB32);
        };
        // Painted again over the same pixels, the totals' texts are copied.
        info->repaint();
        total->repaint();
        const QImage scanned = onScreen();
        // The barcode field's rounded corner lets the box show through.
        const QPoint corner = barcode->mapTo(box, QPoint());
        QCOMPARE(scanned.pixel(corner), scanned.pixel(corner - QPoint(1, 0)));
        // And the totals' texts drawn the Qt way.
        for (QLabel* label : {info, total})
            label->setStyle(nullptr);
        QEvent lookChange(QEvent::ActivationChange);
        QCoreApplication::sendEvent(box, &lookChange);
        box->update();
        QCoreApplication::processEvents();
        QCOMPARE(scanned, onScreen());
        QCOMPARE(total->text(), totalText);
        if (name.isEmpty()) {
            QCOMPARE(Model()->rowCount(), 0);
            QCOMPARE(barcode->text(), code);
            return;
        }
        QCOMPARE(Model()->rowCount(), 1);
        QCOMPARE(Cell(0, Name), name);
        QCOMPARE(Cell(0, Quantity), QString("1"));
        QCOMPARE(Cell(0, Subtotal), subtotal);
        QCOMPARE(Cell(0, Barcode), code);
        QVERIFY(QDateTime::fromString(Cell(0, Time), "yyyy-MM-dd HH:mm:ss").isValid());
        QCOMPARE(barcode->text(), QString());
        QCOMPARE(QApplication::focusWidget(), barcode);
    }

    void sameBarcodeTwiceGivesTwoLines()
    {
        Scan("6901234567890");
        Scan("6901234567890");
        QCOMPARE(Model()->rowCount(), 2);
        QCOMPARE(Cell(1, Quantity), QString("1"));
        QCOMPARE(info->text(), QStringLiteral("商品数：【2】\n\n统计金额："));
        QCOMPARE(total->text(), QString("7.00"));
    }

    // The row numbers, one of them chosen, the first column's title and the
    // barcode field, with and without the keyboard, look as Qt's own draw
    // them in the same window.
    void picturesLookAsQtDrawsThem()
    {
        QApplication::setCursorFlashTime(0);
        QTableView table(screen);
        table.setModel(Model());
        table.setGeometry(view->geometry());
        QLineEdit field(screen);
        field.resize(barcode->size());
        table.show();
        field.show();
        Scan("6901234567890");
        Scan("6901234567890");
        QTest::qWait(20);
        for (QTableView* each : {view, &table})
            each->selectRow(0);
        Scan("0123");
        QCoreApplication::processEvents();
        QCOMPARE(view->verticalHeader()->grab().toImage(),
                 table.verticalHeader()->grab().toImage());
        const QRect title(0, 0, view->columnWidth(0), view->horizontalHeader()->height());
        table.setColumnWidth(0, title.width());
        QCOMPARE(view->horizontalHeader()->grab(title).toImage(),
                 table.horizontalHeader()->grab(title).toImage());
        const QImage focused = barcode->grab().toImage();
        field.setFocus();
        QCOMPARE(field.grab().toImage(), focused);
        const QImage unfocused = barcode->grab().toImage();
        barcode->setFocus();
        QCOMPARE(field.grab().toImage(), unfocused);
    }

    void quantityEdit_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("quantity");
        QTest::addColumn<QString>("subtotal");
        QTest::addColumn<QString>("totalText");
        const auto row = [](const char* tag, QString typed, QString num, QString sub, QString sum) {
            QTest::newRow(tag) << typed << num << sub << sum;
        };
        row("whole", "4", "4", "14", "14.00");
        row("negative", "-2", "-2", "-7", "-7.00");
        // Refused as a whole: dropping the refused "." alone would leave 15.
        row("not a whole number", "1.5", "1", "3.5", "3.50");
        row("letters", "x7", "1", "3.5", "3.50");
        row("emptied cell keeps the quantity", "", "1", "3.5", "3.50");
    }

    void quantityEdit()
    {
        QFETCH(QString, typed);
        QFETCH(QString, quantity);
        QFETCH(QString, subtotal);
        QFETCH(QString, totalText);
        Scan("6901234567890");
        EditQuantity(0, typed);
        QCOMPARE(Cell(0, Quantity), quantity);
        QCOMPARE(Cell(0, Subtotal), subtotal);
        QCOMPARE(total->text(), totalText);
    }

    void payStoresWholeSale()
    {
        for (const char* code : {"6901234567890", "0123", "6901234567890"})
            Scan(code);
        EditQuantity(1, "2");
        EditQuantity(2, "5");
        for (int row = 0; row < 3; ++row)
            Model()->setData(Model()->index(row, Time), QString("2021-03-05 09:0%1:00").arg(row));
        QCOMPARE(total->text(), QString("45.00"));

        // The keyboard alone reaches the pay button.
        screen->FocusBarcodeInput();
        QTest::keyClick(barcode, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("pb_pay"));
        MessageBoxes::SetNextAnswer(QMessageBox::Yes);
        const QString before = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        const QString after = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss");
        QCOMPARE(TakeBoxesWithIcon(), QStringList{Box(QMessageBox::Question, kConfirmPay)});

        const QList<QStringList> orders = StoredRows("orders");
        QCOMPARE(orders.size(), 1);
        const QString guid = orders[0][0];
        QVERIFY(orders[0][1] >= before && orders[0][1] <= after);
        QCOMPARE(orders[0].mid(2), (QStringList{"45", "3"}));
        QCOMPARE(StoredRows("orderdetail"),
                 (QList<QStringList>{
                     {guid, "2021-03-05 09:00:00", "45", "笔", "101", "6901234567890", "1", "3.5",
                      "3.5"},
                     {guid, "2021-03-05 09:01:00", "45", "茶", "102", "0123", "2", "12", "24"},
                     {guid, "2021-03-05 09:02:00", "45", "笔", "101", "6901234567890", "5", "3.5",
                      "17.5"}}));

        QCOMPARE(Model()->rowCount(), 0);
        QCOMPARE(info->text(), kEmptyInfo);
        QCOMPARE(total->text(), QString("0.00"));
        QCOMPARE(QApplication::focusWidget(), barcode);
        // Unless the shop chose otherwise, stock counts what was booked in.
        QCOMPARE(store->Scalar("SELECT sum(product_num) FROM products").toInt(), 22);
    }

    // Named until the next sale is paid.
    void payTakesStockOutWhenChosen()
    {
        QVERIFY(stockDb.SetSalesReduceStock(true) && stockDb.SetLowStockLevel(4));
        QSignalSpy notes(screen, &CTTodaySale::LowStockNoted);
        for (const char* code : {"6901234567890", "0123", "6901234567890"})
            Scan(code);
        Pay(QMessageBox::Yes);
        QCOMPARE(store->Scalar("SELECT sum(product_num) FROM products").toInt(), 19);
        QCOMPARE(store->Scalar("SELECT product_num FROM products WHERE product_guid=102").toInt(),
                 4);
        Scan("6901234567890");
        Pay(QMessageBox::Yes);
        QCOMPARE(static_cast<QList<QVariantList>>(notes),
                 (QList<QVariantList>{{"库存不足：茶 剩余 4"}, {""}}));
    }

    // Every line is stored to the cent and the lines add up to the total.
    void payStoresCents_data()
    {
        QTest::addColumn<QStringList>("codes");
        QTest::addColumn<QString>("firstQuantity");
        QTest::addColumn<QStringList>("subtotals");
        QTest::addColumn<QString>("totalText");
        QTest::newRow("3 x 4567.89")
            << QStringList{"4567"} << "3" << QStringList{"13703.67"} << "13703.67";
        QTest::newRow("seven digits") << QStringList{"1234567", "4567"} << "1"
                                      << QStringList{"1234567", "4567.89"} << "1239134.89";
    }

    void payStoresCents()
    {
        QFETCH(QStringList, codes);
        QFETCH(QString, firstQuantity);
        QFETCH(QStringList, subtotals);
        QFETCH(QString, totalText);
        for (const QString& code : codes)
            Scan(code);
        EditQuantity(0, firstQuantity);
        for (int row = 0; row < subtotals.size(); ++row)
            QCOMPARE(Cell(row, Subtotal), subtotals[row]);
        QCOMPARE(total->text(), totalText);
        QTRY_VERIFY(total->width() >= total->sizeHint().width());

        Pay(QMessageBox::Yes);
        TakeBoxesWithIcon();
        QStringList stored;
        for (const QStringList& line : StoredRows("orderdetail"))
            stored << line[8];
        QCOMPARE(stored, subtotals);
        QCOMPARE(StoredRows("orders").value(0).value(2), totalText);
    }

    void payDeclined_data()
    {
        QTest::addColumn<QStringList>("codes");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty sale")
            << QStringList() << int(QMessageBox::Yes) << int(QMessageBox::Information)
            << QStringLiteral("添先添加商品，才能完成结算");
        QTest::newRow("answered no") << QStringList{"6901234567890", "0123"} << int(QMessageBox::No)
                                     << int(QMessageBox::Question) << kConfirmPay;
    }

    void payDeclined()
    {
        QFETCH(QStringList, codes);
        QFETCH(int, answer);
        QFETCH(int, icon);
        QFETCH(QString, text);
        for (const QString& code : codes)
            Scan(code);
        const QString infoBefore = info->text();
        const QString totalBefore = total->text();
        Pay(QMessageBox::StandardButton(answer));
        QCOMPARE(TakeBoxesWithIcon(), QStringList{Box(QMessageBox::Icon(icon), text)});
        CheckNothingStored();
        QCOMPARE(Model()->rowCount(), codes.size());
        QCOMPARE(info->text(), infoBefore);
        QCOMPARE(total->text(), totalBefore);
    }

    void failedPayKeepsSale_data()
    {
        QTest::addColumn<QString>("refuse");
        QTest::addColumn<QString>("allow");
        // No refusing statement: the whole store refuses writes.
        QTest::newRow("no writes at all") << QString() << "PRAGMA query_only=0";
        // The detail rows go in before the order row is refused.
        QTest::newRow("order row refused")
            << "CREATE TRIGGER refuse BEFORE INSERT ON orders BEGIN SELECT RAISE(ABORT,'no'); END"
            << "DROP TRIGGER refuse";
    }

    void failedPayKeepsSale()
    {
        QFETCH(QString, refuse);
        QFETCH(QString, allow);
        Scan("6901234567890");
        Scan("0123");
        EditQuantity(0, "4");
        if (refuse.isEmpty())
            store->RefuseWrites();
        else
            QVERIFY(!store->Exec(refuse).lastError().isValid());
        Pay(QMessageBox::Yes);
        QCOMPARE(TakeBoxesWithIcon(),
                 (QStringList{Box(QMessageBox::Question, kConfirmPay),
                              Box(QMessageBox::Information, "结算失败，订单未保存")}));
        CheckNothingStored();
        QCOMPARE(Model()->rowCount(), 2);
        QCOMPARE(Cell(0, Quantity), QString("4"));
        QCOMPARE(total->text(), QString("26.00"));

        // Once the store takes writes again the same sale goes through.
        QVERIFY(!store->Exec(allow).lastError().isValid());
        Pay(QMessageBox::Yes);
        QCOMPARE(StoredRows("orders").size(), 1);
        QCOMPARE(StoredRows("orderdetail").size(), 2);
        QCOMPARE(Model()->rowCount(), 0);
    }

    void cancel_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("answer");
        QTest::newRow("empty, yes") << 0 << int(QMessageBox::Yes);
        QTest::newRow("open, no") << 2 << int(QMessageBox::No);
        QTest::newRow("open, yes") << 2 << int(QMessageBox::Yes);
        QTest::newRow("ten lines, yes") << 10 << int(QMessageBox::Yes);
    }

    void cancel()
    {
        QFETCH(int, lines);
        QFETCH(int, answer);
        for (int i = 0; i < lines; ++i)
            Scan("6901234567890");
        QCoreApplication::processEvents();
        const QString totalBefore = total->text();
        const int timeWidth = view->columnWidth(Time);
        const int numbersWidth = view->verticalHeader()->width();
        MessageBoxes::SetNextAnswer(QMessageBox::StandardButton(answer));
        QTest::mouseClick(screen->findChild<QPushButton*>("pb_Cancel"), Qt::LeftButton);
        QCOMPARE(TakeBoxesWithIcon(), QStringList{Box(QMessageBox::Question, "是否要取消订单")});
        CheckNothingStored();
        const bool cleared = answer == QMessageBox::Yes;
        QCOMPARE(Model()->rowCount(), cleared ? 0 : lines);
        QCOMPARE(total->text(), cleared ? QString("0.00") : totalBefore);
        if (cleared)
            QCOMPARE(info->text(), kEmptyInfo);
        // The next sale's first and tenth lines widen no column again.
        QCoreApplication::processEvents();
        QCOMPARE(view->columnWidth(Time), timeWidth);
        QCOMPARE(view->verticalHeader()->width(), numbersWidth);
    }
};

QTEST_MAIN(TodaySaleTest)
#include "tst_todaysale.moc"
