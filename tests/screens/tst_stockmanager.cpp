#include "screens/CTStockManager.h"
#include "screens/MessageBoxes.h"
#include "store/StockDb.h"
#include "support_ScreenTest.h"
#include "support_TempStore.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QSpinBox>
#include <QSqlError>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>
#include <memory>

namespace {
// Columns of the stored product row that the screen writes back, in the order
// StoredProduct returns them.
const char* const kProductColumns = "product_guid,product_name,product_barcode,product_num,"
                                    "product_provider_guid,product_original_price,"
                                    "product_retail_price";

// Where an editable table column lands in StoredProduct.
int StoredField(int column)
{
    return QList<int>{1, -1, 3, 5, 6}.at(column);
}
} // namespace

class TestStockManager : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void listsEveryProductByScrolling_data();
    void listsEveryProductByScrolling();
    void editIsWrittenBack_data();
    void editIsWrittenBack();
    void unfinishedNumberIsNeverWritten_data();
    void unfinishedNumberIsNeverWritten();
    void failedEditKeepsProduct_data();
    void failedEditKeepsProduct();
    void closingUnchangedWritesNothing_data();
    void closingUnchangedWritesNothing();
    void deleteThroughMenu_data();
    void deleteThroughMenu();
    void lowStockAndTheSalesSetting();

private:
    void AddProduct(const QString& guid, const QString& name, const QString& num,
                    const QString& providerGuid = "501");
    void OpenScreen();
    QLineEdit* StartEdit(int row, int column);
    QStringList StoredProduct(const QString& guid);
    QStringList ProductOrder();
    QStringList ShownGuids() const;

    std::unique_ptr<TempStore> store;
    // The main window shows each screen as a tab page, not as a window.
    std::unique_ptr<QTabWidget> tabs;
    std::unique_ptr<CTStockManager> screen;
    QTableView* view = nullptr;
    QStandardItemModel* model = nullptr;
};

void TestStockManager::init()
{
    MessageBoxes::SetTestMode(true);
    store = std::make_unique<TempStore>();
    QVERIFY(store->IsOpen());
    store->Exec("insert into providers(provider_guid,provider_name) values (501,'东方供应')");
}

void TestStockManager::cleanup()
{
    screen.reset();
    tabs.reset();
    store.reset();
    MessageBoxes::SetTestMode(false);
}

void TestStockManager::AddProduct(const QString& guid, const QString& name, const QString& num,
                                  const QString& providerGuid)
{
    const QSqlQuery query =
        store->Exec(QString("insert into products(%1) values (%2,'%3','69%2','%4',%5,1.5,2)")
                        .arg(kProductColumns, guid, name, num, providerGuid));
    QVERIFY2(!query.lastError().isValid(), qPrintable(query.lastError().text()));
}

void TestStockManager::OpenScreen()
{
    screen = std::make_unique<CTStockManager>();
    view = screen->findChild<QTableView*>("tv_ptstock");
    QVERIFY(view);
    model = qobject_cast<QStandardItemModel*>(view->model());
    QVERIFY(model);
    tabs = std::make_unique<QTabWidget>();
    tabs->addTab(screen.get(), "tab");
    tabs->show();
    QVERIFY(QTest::qWaitForWindowExposed(tabs.get()));
}

QLineEdit* TestStockManager::StartEdit(int row, int column)
{
    const QModelIndex index = model->index(row, column);
    view->setCurrentIndex(index);
    view->edit(index);
    auto* editor = qobject_cast<QLineEdit*>(view->indexWidget(index));
    if (editor)
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    return editor;
}

QStringList TestStockManager::StoredProduct(const QString& guid)
{
    QSqlQuery query = store->Exec(
        QString("select %1 from products where product_guid=%2").arg(kProductColumns, guid));
    QStringList values;
    if (query.next()) {
        for (int column = 0; column < 7; ++column)
            values.append(query.value(column).toString());
    }
    return values;
}

QStringList TestStockManager::ProductOrder()
{
    QSqlQuery query = store->Exec("select product_guid from products order by rowid");
    QStringList guids;
    while (query.next())
        guids.append(query.value(0).toString());
    return guids;
}

QStringList TestStockManager::ShownGuids() const
{
    QStringList guids;
    for (int row = 0; row < model->rowCount(); ++row)
        guids.append(model->item(row, 6)->text());
    return guids;
}

void TestStockManager::listsEveryProductByScrolling_data()
{
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<int>("row");

    QTest::newRow("untouched") << QStringList() << 0;
    QTest::newRow("a row deleted") << QStringList("delete") << 1;
    QTest::newRow("a row edited") << QStringList("edit") << 1;
    QTest::newRow("second page unreadable at first") << QStringList("unreadable") << 0;
    QTest::newRow("a row of the second page edited twice, then deleted")
        << QStringList({"scroll", "edit", "edit", "delete"}) << 150;
}

void TestStockManager::listsEveryProductByScrolling()
{
    QFETCH(QStringList, changes);
    QFETCH(int, row);
    AddProduct("1000", "无主商品", "4", "999");
    QStringList stored{"1000"};
    for (int i = 1; i <= 250; ++i) {
        AddProduct(QString::number(1000 + i), QString("商品%1").arg(i), "1");
        stored.append(QString::number(1000 + i));
    }
    OpenScreen();

    QCOMPARE(model->rowCount(), 100);
    QCOMPARE(model->columnCount(), 8);
    const QStringList headers{"商品名称", "商品条码", "商品库存", "商品进价",
                              "商品售价", "供应商",   "商品ID",   "供应商ID"};
    for (int column = 0; column < headers.size(); ++column)
        QCOMPARE(model->headerData(column, Qt::Horizontal).toString(), headers.at(column));

    const QStringList first{"无主商品", "691000", "4", "1.5", "2", "", "1000", "999"};
    for (int column = 0; column < first.size(); ++column)
        QCOMPARE(model->item(0, column)->text(), first.at(column));
    QCOMPARE(model->item(1, 5)->text(), QString("东方供应"));
    QCOMPARE(model->item(99, 6)->text(), QString("1099"));

    // Only name, stock and the two prices can be touched.
    for (int column = 0; column < 8; ++column) {
        const bool editable = QList<int>{0, 2, 3, 4}.contains(column);
        const Qt::ItemFlags flags = model->item(0, column)->flags();
        QCOMPARE(bool(flags & Qt::ItemIsEnabled), editable);
        QCOMPARE(bool(flags & Qt::ItemIsEditable) && bool(flags & Qt::ItemIsEnabled), editable);
    }

    // Changed rows stay where they are; every product shows once, in table order.
    for (const QString& change : changes) {
        if (change == "unreadable") {
            QCOMPARE(ScrollToEndWhileUnreadable(view, "products"),
                     QStringList("Quorrin1009: 读取失败\nno such table: products"));
        } else if (change == "scroll") {
            view->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
            QCOMPARE(model->rowCount(), 200);
        } else if (change == "edit") {
            QLineEdit* editor = StartEdit(row, 2);
            QVERIFY(editor);
            QTest::keyClicks(editor, QString::number(model->rowCount()));
            QTest::keyClick(editor, Qt::Key_Return);
            QTRY_VERIFY(!view->indexWidget(model->index(row, 2)));
        } else {
            MessageBoxes::SetNextAnswer(QMessageBox::Yes);
            RightClickFirstEntry(view, view->visualRect(model->index(row, 0)).center());
            stored.removeAt(row);
        }
    }
    ScrollToEnd(view);
    QCOMPARE(ShownGuids(), stored);
}

void TestStockManager::editIsWrittenBack_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("value");

    QTest::newRow("name") << 0 << "Cola 2L"
                          << "Cola 2L";
    QTest::newRow("stock") << 2 << "15"
                           << "15";
    QTest::newRow("stock at the top") << 2 << "999999999"
                                      << "999999999";
    QTest::newRow("purchase price") << 3 << "0.35"
                                    << "0.35";
    QTest::newRow("sale price") << 4 << "12.5"
                                << "12.5";
}

void TestStockManager::editIsWrittenBack()
{
    QFETCH(int, column);
    QFETCH(QString, typed);
    QFETCH(QString, value);
    AddProduct("1001", "水", "12");
    AddProduct("1002", "茶", "3");
    AddProduct("1003", "饼", "8");
    QStringList stored = StoredProduct("1001");
    stored[StoredField(column)] = value;
    OpenScreen();

    QLineEdit* editor = StartEdit(0, column);
    QVERIFY(editor);
    QTest::keyClicks(editor, typed);
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_VERIFY(!view->indexWidget(model->index(0, column)));

    QCOMPARE(model->item(0, column)->text(), value);
    QCOMPARE(StoredProduct("1001"), stored);
    // The rewrite is a fresh insert under the same id, so the product now comes last.
    QCOMPARE(ProductOrder(), QStringList({"1002", "1003", "1001"}));
    QCOMPARE(TakeBoxes(), QStringList());
}

void TestStockManager::unfinishedNumberIsNeverWritten_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("typed");

    QTest::newRow("empty stock") << 2 << "";
    QTest::newRow("empty price") << 3 << "";
    QTest::newRow("price above the range") << 4 << "999999999.5";
    // Refused as a whole: dropping the refused keys alone leaves another number.
    QTest::newRow("letters in stock") << 2 << "4abc";
    QTest::newRow("sign and separator in stock") << 2 << "-1,000";
    QTest::newRow("stock beyond nine digits") << 2 << "1234567890";
    QTest::newRow("third decimal") << 3 << "2.345";
    QTest::newRow("exponent in price") << 4 << "1e3";
    QTest::newRow("letters in price") << 4 << "x7";
}

void TestStockManager::unfinishedNumberIsNeverWritten()
{
    QFETCH(int, column);
    QFETCH(QString, typed);
    AddProduct("1001", "水", "12");
    AddProduct("1002", "茶", "3");
    const QStringList before = StoredProduct("1001");
    const QString shown = before.at(StoredField(column));
    OpenScreen();

    QLineEdit* editor = StartEdit(0, column);
    QVERIFY(editor);
    QTest::keyClick(editor, Qt::Key_Backspace);
    QTest::keyClicks(editor, typed);
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();
    QVERIFY2(view->indexWidget(model->index(0, column)),
             "Return must not close on unfinished input");

    // A click on another cell closes the editor through the delegate.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(model->index(1, 0)).center());
    QTRY_VERIFY(!view->indexWidget(model->index(0, column)));

    QCOMPARE(model->item(0, column)->text(), shown);
    QCOMPARE(StoredProduct("1001"), before);
    QCOMPARE(ProductOrder(), QStringList({"1001", "1002"}));
}

void TestStockManager::failedEditKeepsProduct_data()
{
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("box");

    const QString failed = "修改失败，数据未更改";
    QTest::newRow("every write refused") << "refuse" << 2 << "40" << failed;
    QTest::newRow("insert refused after the delete")
        << "CREATE TRIGGER refuse BEFORE INSERT ON products BEGIN SELECT RAISE(ABORT,'no'); END"
        << 2 << "40" << failed;
    QTest::newRow("changed at another till since shown")
        << "update products set product_num=20 where product_guid=1001" << 2 << "40"
        << "该商品已在其他收银台修改，请核对后再改";
    QTest::newRow("name cleared") << "" << 0 << ""
                                  << "商品名称不能为空";
}

void TestStockManager::failedEditKeepsProduct()
{
    QFETCH(QString, refusal);
    QFETCH(int, column);
    QFETCH(QString, typed);
    QFETCH(QString, box);
    AddProduct("1001", "水", "12");
    AddProduct("1002", "茶", "3");
    OpenScreen();
    if (refusal == "refuse")
        store->RefuseWrites();
    else if (!refusal.isEmpty())
        QVERIFY(!store->Exec(refusal).lastError().isValid());
    const QStringList before = StoredProduct("1001");

    QLineEdit* editor = StartEdit(0, column);
    QVERIFY(editor);
    QTest::keyClick(editor, Qt::Key_Delete);
    QTest::keyClicks(editor, typed);
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_VERIFY(!view->indexWidget(model->index(0, column)));

    QCOMPARE(TakeBoxes(), QStringList("Quorrin1009: " + box));
    QCOMPARE(StoredProduct("1001"), before);
    QCOMPARE(ProductOrder(), QStringList({"1001", "1002"}));
    // The table was read again, so it shows what is stored.
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(model->item(0, column)->text(), before.value(StoredField(column)));
}

void TestStockManager::closingUnchangedWritesNothing_data()
{
    QTest::addColumn<QString>("close");
    QTest::addColumn<bool>("refuseWrites");

    QTest::newRow("Escape after typing") << "escape" << false;
    QTest::newRow("Escape after typing, store refusing writes") << "escape" << true;
    QTest::newRow("Return on the old text") << "return" << false;
    QTest::newRow("Tab on the old text") << "tab" << false;
    QTest::newRow("click on another cell") << "click" << false;
}

// A product was edited and the list read again, so the row changed last is
// now another product: closing an editor must not touch it.
void TestStockManager::closingUnchangedWritesNothing()
{
    QFETCH(QString, close);
    QFETCH(bool, refuseWrites);
    AddProduct("1001", "水", "12");
    AddProduct("1002", "茶", "3");
    OpenScreen();
    QLineEdit* editor = StartEdit(0, 2);
    QVERIFY(editor);
    QTest::keyClicks(editor, "40");
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_VERIFY(!view->indexWidget(model->index(0, 2)));
    screen->RefreshStockList();
    QCOMPARE(ShownGuids(), QStringList({"1002", "1001"}));
    const QStringList before{StoredProduct("1002").join('|'), StoredProduct("1001").join('|')};
    if (refuseWrites)
        store->RefuseWrites();

    editor = StartEdit(1, 0);
    QVERIFY(editor);
    if (close == "escape") {
        QTest::keyClicks(editor, "Cola");
        QTest::keyClick(editor, Qt::Key_Escape);
    } else if (close == "click") {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(model->index(0, 0)).center());
    } else {
        Type(editor, "水");
        QTest::keyClick(editor, close == "tab" ? Qt::Key_Tab : Qt::Key_Return);
    }
    QTRY_VERIFY(!view->indexWidget(model->index(1, 0)));
    QTest::qWait(50);

    QCOMPARE(TakeBoxes(), QStringList());
    QCOMPARE(ProductOrder(), QStringList({"1002", "1001"}));
    QCOMPARE(QStringList({StoredProduct("1002").join('|'), StoredProduct("1001").join('|')}),
             before);
    QCOMPARE(model->item(1, 0)->text(), QString("水"));
}

void TestStockManager::deleteThroughMenu_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<bool>("deleted");
    QTest::addColumn<QStringList>("shown");

    const QString question = "提示: 是否删除本行数据?";
    QTest::newRow("yes") << int(QMessageBox::Yes) << "" << true << QStringList(question);
    QTest::newRow("no") << int(QMessageBox::No) << "" << false << QStringList(question);
    QTest::newRow("yes but the store refuses")
        << int(QMessageBox::Yes) << "refuse" << false
        << QStringList({question, "Quorrin1009: 删除失败，数据未更改"});
    QTest::newRow("yes but booked at another till since shown")
        << int(QMessageBox::Yes) << "update products set product_num=20 where product_guid=1002"
        << false << QStringList({question, "Quorrin1009: 该商品已在其他收银台修改，请核对后再改"});
}

void TestStockManager::deleteThroughMenu()
{
    QFETCH(int, answer);
    QFETCH(QString, refusal);
    QFETCH(bool, deleted);
    QFETCH(QStringList, shown);
    AddProduct("1001", "水", "12");
    AddProduct("1002", "茶", "3");
    AddProduct("1003", "饼", "8");
    OpenScreen();
    if (refusal == "refuse")
        store->RefuseWrites();
    else if (!refusal.isEmpty())
        QVERIFY(!store->Exec(refusal).lastError().isValid());

    // Below the last row there is no menu, and so nothing to choose.
    RightClickFirstEntry(view, QPoint(5, view->viewport()->height() - 2));
    QCOMPARE(TakeBoxes(), QStringList());

    MessageBoxes::SetNextAnswer(QMessageBox::StandardButton(answer));
    RightClickFirstEntry(view, view->visualRect(model->index(1, 0)).center());

    QCOMPARE(TakeBoxes(), shown);
    const QStringList kept =
        deleted ? QStringList{"1001", "1003"} : QStringList{"1001", "1002", "1003"};
    QCOMPARE(ProductOrder(), kept);
    QCOMPARE(model->rowCount(), kept.size());
    for (int row = 0; row < kept.size(); ++row) {
        QCOMPARE(model->item(row, 6)->text(), kept.at(row));
        QCOMPARE(model->item(row, 2)->text(), StoredProduct(kept.at(row)).value(3));
    }
}

void TestStockManager::lowStockAndTheSalesSetting()
{
    AddProduct("1", "a", "3");
    AddProduct("2", "b", "4");
    AddProduct("3", "c", "-1");
    QVERIFY(stockDb.SetLowStockLevel(3));
    OpenScreen();
    QList<bool> red;
    for (int row = 0; row < 3; ++row)
        red << (model->item(row, 2)->foreground().color() == Qt::red);
    QCOMPARE(red, QList<bool>({true, false, true}));
    screen->findChild<QCheckBox*>("ck_lowstockonly")->setChecked(true);
    QCOMPARE(ShownGuids(), QStringList({"1", "3"}));
    screen->findChild<QSpinBox*>("sb_lowstock")->setValue(4);
    QCOMPARE(stockDb.LowStockLevel(), 4);
    QCOMPARE(ShownGuids(), QStringList({"1", "2", "3"}));
    auto* reduce = screen->findChild<QCheckBox*>("ck_salesreducestock");
    for (QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
        MessageBoxes::SetNextAnswer(answer);
        QTest::mouseClick(reduce, Qt::LeftButton);
        QVERIFY(TakeBoxesWithIcon().value(0).contains("所有收银台从下一笔销售起"));
        QCOMPARE(stockDb.SalesReduceStock(), answer == QMessageBox::Yes);
        QCOMPARE(reduce->isChecked(), answer == QMessageBox::Yes);
    }
    // Set at another till: shown when the tab is shown again.
    store->Exec("UPDATE settings SET setting_value = '0'");
    screen->RefreshStockList();
    QVERIFY(!reduce->isChecked());
    QCOMPARE(ShownGuids(), QStringList({"3"}));
    // No level set, below zero is still red.
    QCOMPARE(model->item(0, 2)->foreground().color(), QColor(Qt::red));
}

QTEST_MAIN(TestStockManager)
#include "tst_stockmanager.moc"
