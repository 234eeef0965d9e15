#include "screens/CTProviderManager.h"
#include "screens/CTStockManager.h"
#include "screens/CTTPurchaseManager.h"
#include "screens/CTTodayPurchase.h"
#include "screens/CTTodaySale.h"
#include "screens/MessageBoxes.h"
#include "store/StockDb.h"
#include "support_ScreenTest.h"
#include "support_TempStore.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTabWidget>
#include <QTableView>
#include <QTextEdit>
#include <QtTest>
#include <memory>

namespace {
int hostileInputsTried = 0;

// Clicks into field, selects what it holds and types or pastes text over it.
void Enter(QWidget* field, const QString& text, bool paste)
{
    field->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    if (paste) {
        QApplication::clipboard()->setText(text);
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    } else {
        Type(field, text);
    }
    ++hostileInputsTried;
}

QString Held(QWidget* field)
{
    if (auto* edit = qobject_cast<QLineEdit*>(field))
        return edit->text();
    return qobject_cast<QTextEdit*>(field)->toPlainText();
}

// A column of a stored row and what the field it came from held. Numbers
// must be stored as numbers, since stock and prices are computed with.
struct Stored
{
    QString column;
    QString held;
    bool number = false;
};

// Looks the row up by key (bound, never spliced into the SQL) and compares
// each column with what its field held: text exactly, numbers by value.
void CompareStored(const QString& table, const QString& keyColumn, const QString& key,
                   const QList<Stored>& columns)
{
    QStringList names;
    for (const Stored& column : columns)
        names << column.column;
    QSqlQuery query;
    QVERIFY(query.prepare(
        QString("SELECT %1 FROM %2 WHERE %3=?").arg(names.join(','), table, keyColumn)));
    query.addBindValue(key);
    QVERIFY(query.exec());
    QVERIFY2(query.next(), qPrintable(table + " has no row for the key"));
    for (int i = 0; i < columns.size(); ++i) {
        const QVariant value = query.value(i);
        const Stored& expected = columns.at(i);
        if (!expected.number) {
            QVERIFY2(value.type() == QVariant::String, qPrintable(expected.column));
            QCOMPARE(value.toString(), expected.held);
            continue;
        }
        QVERIFY2(value.type() == QVariant::LongLong || value.type() == QVariant::Double,
                 qPrintable(expected.column + " is not stored as a number"));
        QCOMPARE(value.toDouble(), expected.held.toDouble());
    }
    QVERIFY2(!query.next(), qPrintable(table + " has the key twice"));
}

// The snapshot without the rows whose column holds one of keys.
StoreSnapshot Without(StoreSnapshot snapshot, const QString& table, int column,
                      const QStringList& keys)
{
    QList<QStringList>& rows = snapshot[table];
    rows.erase(
        std::remove_if(rows.begin(), rows.end(),
                       [&](const QStringList& row) { return keys.contains(row.at(column)); }),
        rows.end());
    return snapshot;
}

QStringList Cells(const QAbstractItemModel* model, int row)
{
    QStringList cells;
    for (int column = 0; column < model->columnCount(); ++column)
        cells << model->index(row, column).data().toString();
    return cells;
}
} // namespace

class TestHostileInput : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void providerFields_data() { HostileTexts(); }
    void providerFields();
    void stockInFields_data() { HostileTexts(); }
    void stockInFields();
    void stockListCells_data() { HostileTexts(); }
    void stockListCells();
    void checkoutFields_data() { HostileTexts(); }
    void checkoutFields();
    void purchaseHistoryFields_data() { HostileTexts(); }
    void purchaseHistoryFields();

private:
    static void HostileTexts();
    template <class Screen> Screen* Show()
    {
        auto* screen = new Screen();
        host = ShowAsTab(screen);
        return screen;
    }
    QLineEdit* EditCell(QTableView* view, int row, int column);
    void CloseEditor(QTableView* view, const QModelIndex& index);

    std::unique_ptr<TempStore> store;
    std::unique_ptr<QTabWidget> host;
};

void TestHostileInput::HostileTexts()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("paste");

    QString longText;
    while (longText.size() < 10000)
        longText += QStringLiteral("O'Brien's 货; DROP TABLE orders; -- %1 %s 🍺\t");
    longText.truncate(10000);

    QTest::newRow("apostrophes") << "O'Brien's 'quoted' ''" << false;
    QTest::newRow("always true") << "' or '1'='1" << false;
    QTest::newRow("drop table") << "0); DROP TABLE products; --" << false;
    QTest::newRow("closing the literal") << "x'); DELETE FROM providers; --" << false;
    QTest::newRow("double quotes and backslashes")
        << "\\\"; DELETE FROM purchases WHERE \"1\"=\"1\\" << false;
    QTest::newRow("arg markers") << "%1 %2 %L1 %%" << false;
    QTest::newRow("printf markers") << "%s %d %n %x %99999999s" << false;
    QTest::newRow("10,000 characters, pasted") << longText << true;
    QTest::newRow("Chinese") << "可口可乐（大瓶装）：买一送一" << false;
    QTest::newRow("emoji") << "🍺🧃👍🏽 ok" << false;
    QTest::newRow("control characters") << "a\tb\rc\nd\x01"
                                           "e\x7f"
                                        << false;
    QTest::newRow("blanks around") << "  spaced  out  " << false;
    QTest::newRow("number look-alikes") << "1,000.50e3 -7 +8 ０９" << false;
    QTest::newRow("direction marks") << "\u202Eevil\u200B\uFEFF" << false;
    QTest::newRow("byte order mark first") << "\uFEFF'bom" << false;
}

void TestHostileInput::initTestCase()
{
    UseForwardMovingClock();
}

void TestHostileInput::init()
{
    MessageBoxes::SetTestMode(true);
    store = std::make_unique<TempStore>();
    QVERIFY(store->IsOpen());
    QVERIFY(SeedEveryTable());
}

void TestHostileInput::cleanup()
{
    host.reset();
    store.reset();
    MessageBoxes::SetTestMode(false);
}

void TestHostileInput::cleanupTestCase()
{
    qInfo("hostile inputs tried: %d", hostileInputsTried);
}

void TestHostileInput::providerFields()
{
    QFETCH(QString, text);
    QFETCH(bool, paste);
    auto* screen = Show<CTProviderManager>();
    auto* guidField = FindChild<QLineEdit>(screen, "LE_PGUID");
    const QString guid = guidField->text();
    Enter(guidField, text, paste);
    QCOMPARE(guidField->text(), guid);

    const char* const names[] = {"le_pname",    "le_pphone",    "le_paddr",
                                 "le_plicense", "le_pflicense", "le_pbusiniess"};
    const char* const columns[] = {"provider_name",    "provider_phone",       "provider_address",
                                   "provider_license", "provider_foodlicense", "provider_business"};
    QStringList held;
    for (const char* name : names) {
        QWidget* field = FindChild<QWidget>(screen, name);
        Enter(field, text, paste);
        held << Held(field);
    }
    QVERIFY(TakeBoxes().isEmpty());
    const StoreSnapshot before = SnapshotStore();
    QTest::mouseClick(FindChild<QPushButton>(screen, "pb_AddItem"), Qt::LeftButton);

    QCOMPARE(TakeBoxes(), QStringList("Quorrin1009: 添加成功"));
    QList<Stored> stored;
    for (int i = 0; i < held.size(); ++i)
        stored << Stored{columns[i], held.at(i)};
    CompareStored("providers", "provider_guid", guid, stored);
    QCOMPARE(Without(SnapshotStore(), "providers", 0, {guid}), before);

    // What the table shows now and after the next start is what was stored.
    const QAbstractItemModel* model = FindChild<QTableView>(screen, "tableView")->model();
    QCOMPARE(Cells(model, model->rowCount() - 1), held + QStringList(guid));
    auto* again = Show<CTProviderManager>();
    model = FindChild<QTableView>(again, "tableView")->model();
    QCOMPARE(Cells(model, model->rowCount() - 1), held + QStringList(guid));
}

void TestHostileInput::stockInFields()
{
    QFETCH(QString, text);
    QFETCH(bool, paste);
    // The provider's name is hostile too: bookings find its identifier by name.
    QVERIFY(stockDb.InsertProvider("13", text, "", "", "", "", ""));
    auto* screen = Show<CTTodayPurchase>();
    QMap<QString, QString> providers{{"甲", "11"}, {"乙", "12"}};
    providers.insert(text, "13");
    screen->SetProviderMap(providers);
    auto* provider = FindChild<QComboBox>(screen, "cb_provider");
    provider->setCurrentIndex(provider->findText(text));
    QCOMPARE(provider->currentText(), text);

    auto* guidField = FindChild<QLineEdit>(screen, "le_pcguid");
    const QString guid = guidField->text();
    Enter(guidField, text, paste);
    QCOMPARE(guidField->text(), guid);

    // Fields in form order, each with the stored column it ends up in, and for
    // numbers the digit that makes a booking once the hostile text is refused.
    const struct
    {
        const char* field;
        const char* purchaseColumn;
        const char* productColumn;
        const char* digit;
    } fields[] = {
        {"le_pcid", "purchase_id", nullptr, nullptr},
        {"le_ptname", "purchase_product_name", "product_name", nullptr},
        {"le_ptbarcode", "purchase_product_barcode", "product_barcode", nullptr},
        {"le_ptnum", "purchase_product_num", nullptr, "3"},
        {"le_ptoprice", "purchase_product_oprice", "product_original_price", "2"},
        {"le_ptrpice", "purchase_product_rprice", "product_retail_price", "4"},
    };
    for (const auto& field : fields)
        Enter(FindChild<QLineEdit>(screen, field.field), text, paste);
    // The number fields hold the text whole, and it is refused.
    const StoreSnapshot before = SnapshotStore();
    QTest::mouseClick(FindChild<QPushButton>(screen, "pb_addpurchase"), Qt::LeftButton);
    QCOMPARE(TakeBoxes().size(), 1);
    QCOMPARE(SnapshotStore(), before);

    QList<Stored> purchase{{"purchase_provider_guid", "13", true}};
    QList<Stored> product{{"product_provider_guid", "13", true}};
    QStringList held;
    for (const auto& field : fields) {
        auto* edit = FindChild<QLineEdit>(screen, field.field);
        if (field.digit)
            Enter(edit, field.digit, false);
        held << edit->text();
        purchase << Stored{field.purchaseColumn, edit->text(), field.digit != nullptr};
        if (field.productColumn)
            product << Stored{field.productColumn, edit->text(), field.digit != nullptr};
    }
    const QString barcode = held.at(2);
    QVERIFY(stockDb.QueryProductByBarcode(barcode).product_name.isEmpty());
    QVERIFY(TakeBoxes().isEmpty());

    // Booked twice: first the product is made, then its stock is raised.
    QTest::mouseClick(FindChild<QPushButton>(screen, "pb_addpurchase"), Qt::LeftButton);
    const QString secondGuid = guidField->text();
    QTest::mouseClick(FindChild<QPushButton>(screen, "pb_addpurchase"), Qt::LeftButton);
    QVERIFY(TakeBoxes().isEmpty());

    CompareStored("purchases", "purchase_guid", guid, purchase);
    CompareStored("purchases", "purchase_guid", secondGuid, purchase);
    product << Stored{"product_num", QString::number(2 * held.at(3).toLongLong()), true};
    CompareStored("products", "product_barcode", barcode, product);
    const QString productGuid = stockDb.QueryProductByBarcode(barcode).product_guid;
    QCOMPARE(Without(Without(SnapshotStore(), "purchases", 0, {guid, secondGuid}), "products", 0,
                     {productGuid}),
             before);

    const QAbstractItemModel* model = FindChild<QTableView>(screen, "tv_purchase")->model();
    QCOMPARE(Cells(model, model->rowCount() - 1).mid(1),
             QStringList(text) + held + QStringList(secondGuid));

    // Return in the barcode field finds the product by the very same text.
    auto* name = FindChild<QLineEdit>(screen, "le_ptname");
    name->clear();
    QTest::keyClick(FindChild<QLineEdit>(screen, "le_ptbarcode"), Qt::Key_Return);
    QCOMPARE(name->text(), held.at(1));
}

// Starts editing a cell the way the view does on a double-click, with the
// old text selected.
QLineEdit* TestHostileInput::EditCell(QTableView* view, int row, int column)
{
    const QModelIndex index = view->model()->index(row, column);
    view->setCurrentIndex(index);
    view->edit(index);
    return qobject_cast<QLineEdit*>(view->indexWidget(index));
}

// Return, and when the editor refuses to close on what it holds, a click on
// another cell, which closes it without writing what it refused.
void TestHostileInput::CloseEditor(QTableView* view, const QModelIndex& index)
{
    if (QWidget* editor = view->indexWidget(index)) {
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::processEvents();
    }
    if (view->indexWidget(index)) {
        const QModelIndex other = view->model()->index(index.row() == 0 ? 1 : 0, 0);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(other).center());
    }
    QTRY_VERIFY(!view->indexWidget(index));
}

void TestHostileInput::stockListCells()
{
    QFETCH(QString, text);
    QFETCH(bool, paste);
    auto* screen = Show<CTStockManager>();
    auto* view = FindChild<QTableView>(screen, "tv_ptstock");
    const QAbstractItemModel* model = view->model();
    const int row = 1;
    const QString guid = model->index(row, 6).data().toString();
    const StoreSnapshot before = SnapshotStore();

    const struct
    {
        int column;
        const char* stored;
        const char* digit;
    } cells[] = {
        {0, "product_name", nullptr},
        {2, "product_num", "5"},
        {3, "product_original_price", "1"},
        {4, "product_retail_price", "7"},
    };
    // Each cell keeps what was last typed into its editor, unless the editor
    // would not accept it (a number field refuses most of the text).
    QStringList typed = Cells(model, row);
    for (const auto& cell : cells) {
        QLineEdit* editor = EditCell(view, row, cell.column);
        QVERIFY(editor);
        QString held = editor->text();
        bool acceptable = true;
        connect(editor, &QLineEdit::textEdited, [&held, &acceptable, editor](const QString& now) {
            held = now;
            acceptable = editor->hasAcceptableInput();
        });
        Enter(editor, text, paste);
        if (cell.digit && view->indexWidget(model->index(row, cell.column)))
            Type(editor, cell.digit);
        CloseEditor(view, model->index(row, cell.column));
        if (acceptable)
            typed[cell.column] = held;
    }
    QVERIFY(TakeBoxes().isEmpty());

    // The stored row is what was typed, the rest is untouched.
    CompareStored("products", "product_guid", guid,
                  {{"product_name", typed.at(0)},
                   {"product_barcode", typed.at(1)},
                   {"product_num", typed.at(2), true},
                   {"product_original_price", typed.at(3), true},
                   {"product_retail_price", typed.at(4), true},
                   {"product_provider_guid", typed.at(7), true}});
    QCOMPARE(Without(SnapshotStore(), "products", 0, {guid}),
             Without(before, "products", 0, {guid}));

    screen->RefreshStockList();
    QCOMPARE(model->index(model->rowCount() - 1, 6).data().toString(), guid);
    QCOMPARE(model->index(model->rowCount() - 1, 0).data().toString(), typed.at(0));
}

void TestHostileInput::checkoutFields()
{
    QFETCH(QString, text);
    QFETCH(bool, paste);
    auto* screen = Show<CTTodaySale>();
    auto* barcodeField = FindChild<QLineEdit>(screen, "le_barcode");
    auto* view = FindChild<QTableView>(screen, "tv_salelist");
    const QAbstractItemModel* model = view->model();

    // Nothing carries the text yet: it stays in the field and adds no line.
    Enter(barcodeField, text, paste);
    const QString barcode = barcodeField->text();
    QTest::keyClick(barcodeField, Qt::Key_Return);
    QCOMPARE(model->rowCount(), 0);
    QCOMPARE(barcodeField->text(), barcode);

    // Once a product carries it, the scan finds that product and no other.
    QVERIFY(stockDb.InsertProduct("109", text, barcode, "5", "11", "1", "2.5"));
    QTest::keyClick(barcodeField, Qt::Key_Return);
    QCOMPARE(model->rowCount(), 1);
    QCOMPARE(model->index(0, 1).data().toString(), text);
    QCOMPARE(model->index(0, 5).data().toString(), barcode);

    const QModelIndex quantityCell = model->index(0, 3);
    QLineEdit* editor = EditCell(view, 0, 3);
    QVERIFY(editor);
    Enter(editor, text, paste);
    if (view->indexWidget(quantityCell))
        Type(editor, "2");
    CloseEditor(view, quantityCell);
    const QStringList line = Cells(model, 0);
    QVERIFY(QRegularExpression("^-?[0-9]{1,9}$").match(line.at(3)).hasMatch());

    const StoreSnapshot before = SnapshotStore();
    MessageBoxes::SetNextAnswer(QMessageBox::Yes);
    QTest::mouseClick(FindChild<QPushButton>(screen, "pb_pay"), Qt::LeftButton);
    QCOMPARE(TakeBoxes(), QStringList("Quorrin1009: 请先确认订单信息无误，是否继续结算"));
    QCOMPARE(model->rowCount(), 0);

    const QString orderGuid = StoredRows("orders").last().at(0);
    CompareStored("orderdetail", "order_guid", orderGuid,
                  {{"order_time", line.at(0)},
                   {"order_product_name", text},
                   {"order_product_guid", "109", true},
                   {"order_product_barcode", barcode},
                   {"order_product_num", line.at(3), true},
                   {"order_product_rprice", "2.5", true},
                   {"order_product_subtotal", line.at(4), true}});
    QCOMPARE(
        Without(Without(SnapshotStore(), "orders", 0, {orderGuid}), "orderdetail", 0, {orderGuid}),
        before);
}

void TestHostileInput::purchaseHistoryFields()
{
    QFETCH(QString, text);
    QFETCH(bool, paste);
    auto* screen = Show<CTTPurchaseManager>();
    const QAbstractItemModel* model = FindChild<QTableView>(screen, "tv_puchases")->model();
    auto* billField = FindChild<QLineEdit>(screen, "le_pid");
    auto* barcodeField = FindChild<QLineEdit>(screen, "le_barcode");
    Enter(billField, text, paste);
    Enter(barcodeField, text, paste);
    const QString bill = billField->text();
    const QString barcode = barcodeField->text();
    QVERIFY(TakeBoxes().isEmpty());

    // Purchases carrying exactly those texts, one by bill, one by barcode,
    // and a product with that barcode for the deletion to take stock from.
    const QString day = QDate::currentDate().toString("yyyy-MM-dd");
    QVERIFY(stockDb.InsertPurchase(day + " 10:00:00", "202", bill, "笔", "6901234567890", "1", "11",
                                   "2", "3.5"));
    QVERIFY(
        stockDb.InsertPurchase(day + " 11:00:00", "203", "B3", text, barcode, "4", "11", "1", "2"));
    QVERIFY(stockDb.InsertProduct("109", text, barcode, "10", "11", "1", "2"));
    const StoreSnapshot before = SnapshotStore();

    const auto shownGuids = [model] {
        QStringList guids;
        for (int row = 0; row < model->rowCount(); ++row)
            guids << model->index(row, 8).data().toString();
        return guids;
    };
    QTest::mouseClick(FindChild<QPushButton>(screen, "pb_query"), Qt::LeftButton);
    QCOMPARE(shownGuids(), QStringList("202"));
    QCOMPARE(model->index(0, 2).data().toString(), bill);
    // Back in the barcode field, as a person would be, before Return.
    barcodeField->setFocus(Qt::MouseFocusReason);
    QTest::keyClick(barcodeField, Qt::Key_Return);
    QCOMPARE(shownGuids(), QStringList("203"));
    QCOMPARE(model->index(0, 3).data().toString(), text);
    QCOMPARE(model->index(0, 4).data().toString(), barcode);
    QVERIFY(TakeBoxes().isEmpty());
    QCOMPARE(SnapshotStore(), before);

    // Deleting it takes its quantity from that product only.
    MessageBoxes::SetNextAnswer(QMessageBox::Yes);
    auto* view = FindChild<QTableView>(screen, "tv_puchases");
    RightClickFirstEntry(view, view->visualRect(model->index(0, 0)).center());
    QCOMPARE(TakeBoxes(),
             QStringList("提示: 删除此条进货信息，会影响商品的库存数据，是否确定删除?"));
    QCOMPARE(model->rowCount(), 0);
    QVERIFY(stockDb.QueryPurchasesByBarcode(barcode).isEmpty());
    CompareStored("products", "product_guid", "109", {{"product_num", "6", true}});
    const auto others = [](const StoreSnapshot& snapshot) {
        return Without(Without(snapshot, "purchases", 0, {"203"}), "products", 0, {"109"});
    };
    QCOMPARE(others(SnapshotStore()), others(before));
}

QTEST_MAIN(TestHostileInput)
#include "tst_hostileinput.moc"
