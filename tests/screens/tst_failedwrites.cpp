#include "app/AppContext.h"
#include "screens/CTProviderManager.h"
#include "screens/CTStockManager.h"
#include "screens/CTTPurchaseManager.h"
#include "screens/CTTodayPurchase.h"
#include "screens/CTTodaySale.h"
#include "screens/MessageBoxes.h"
#include "store/StockDb.h"
#include "support_CutProxy.h"
#include "support_ScreenTest.h"
#include "support_TempStore.h"

#include <QCryptographicHash>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>
#include <linux/capability.h>
#include <memory>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
// Every action of the screens that writes to the store.
enum class Action
{
    AddProvider,
    DeleteProvider,
    BookKnownBarcode,
    BookNewBarcode,
    EditName,
    EditStock,
    EditPurchasePrice,
    EditSalePrice,
    DeleteProduct,
    DeletePurchase,
    Pay,
};

enum class Refusal
{
    QueryOnly,
    ReadOnlyFile,
};

// Root passes every file-mode check, so a 0444 Stock.db would still be
// written. Dropping CAP_DAC_OVERRIDE from this thread's effective set makes
// the mode hold as it does for a shopkeeper's account; the capability stays
// permitted, so it comes back afterwards. Outside root nothing changes.
class FileModesHold
{
public:
    FileModesHold() { ok = SetEffective(false); }
    ~FileModesHold() { SetEffective(true); }
    bool Holds() const { return ok; }

private:
    static bool SetEffective(bool on)
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
        if (syscall(SYS_capget, &header, data) != 0)
            return false;
        __user_cap_data_struct& word = data[CAP_TO_INDEX(CAP_DAC_OVERRIDE)];
        const __u32 bit = CAP_TO_MASK(CAP_DAC_OVERRIDE);
        word.effective = on ? (word.effective | (word.permitted & bit)) : (word.effective & ~bit);
        return syscall(SYS_capset, &header, data) == 0;
    }

    bool ok = false;
};

QByteArray FileDigest(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

QList<QStringList> ModelRows(const QAbstractItemModel* model)
{
    QList<QStringList> rows;
    for (int row = 0; row < model->rowCount(); ++row) {
        rows << QStringList();
        for (int column = 0; column < model->columnCount(); ++column)
            rows.last() << model->index(row, column).data().toString();
    }
    return rows;
}

int failedWritesReported = 0;
} // namespace

Q_DECLARE_METATYPE(Action)
Q_DECLARE_METATYPE(Refusal)

class TestFailedWrites : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void readOnlyFileOpensReadOnly();
    void failedWriteIsToldAndChangesNothing_data();
    void failedWriteIsToldAndChangesNothing();
    void lostCommitReplyCountsAsStored_data();
    void lostCommitReplyCountsAsStored();

private:
    bool ReopenReadOnly();
    QTableView* Open(Action action);
    void Perform(Action action);
    void EditCell(int column, const QString& typed);

    std::unique_ptr<TempStore> store;
    std::unique_ptr<FileModesHold> fileModes;
    std::unique_ptr<QTabWidget> host;
    QWidget* screen = nullptr;
    QTableView* view = nullptr;
};

void TestFailedWrites::initTestCase()
{
    UseForwardMovingClock();
}

void TestFailedWrites::init()
{
    MessageBoxes::SetTestMode(true);
    store = std::make_unique<TempStore>();
    QVERIFY(store->IsOpen());
    QVERIFY(SeedEveryTable());
}

void TestFailedWrites::cleanup()
{
    host.reset();
    fileModes.reset();
    store.reset();
    MessageBoxes::SetTestMode(false);
}

void TestFailedWrites::cleanupTestCase()
{
    qInfo("failed writes reported: %d", failedWritesReported);
}

// Closes the store, takes the write permission off Stock.db and opens it
// again the way the program does.
bool TestFailedWrites::ReopenReadOnly()
{
    stockDb.CloseStockDb();
    if (!QFile::setPermissions(store->DbPath(),
                               QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther))
        return false;
    fileModes = std::make_unique<FileModesHold>();
    QFile probe(store->DbPath());
    if (!fileModes->Holds() || probe.open(QIODevice::ReadWrite))
        return false;
    stockDb.OpenStockDb(QString());
    return true;
}

void TestFailedWrites::readOnlyFileOpensReadOnly()
{
    const StoreSnapshot stored = SnapshotStore();
    if (!ReopenReadOnly())
        QSKIP("file modes cannot be made to hold for this process");
    // Everything stays readable; only writing is refused.
    QVERIFY(stockDb.IsOpen());
    QCOMPARE(SnapshotStore(), stored);
    QVERIFY(!stockDb.InsertProvider("13", "丙", "", "", "", "", ""));
    QCOMPARE(StoredRows("providers"), stored.value("providers"));
}

void TestFailedWrites::failedWriteIsToldAndChangesNothing_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<Refusal>("refusal");
    QTest::addColumn<QStringList>("boxes");

    const QString notStored = "Quorrin1009: 进货失败，数据未保存";
    const QString notEdited = "Quorrin1009: 修改失败，数据未更改";
    const QString notDeleted = "Quorrin1009: 删除失败，数据未更改";
    const QString askDelete = "提示: 是否删除本行数据?";
    const struct
    {
        const char* name;
        Action action;
        QStringList boxes;
    } actions[] = {
        {"add provider", Action::AddProvider, {"Quorrin1009: 添加失败"}},
        {"delete provider", Action::DeleteProvider, {askDelete, notDeleted}},
        {"book known barcode", Action::BookKnownBarcode, {notStored}},
        {"book new barcode", Action::BookNewBarcode, {notStored}},
        {"edit name", Action::EditName, {notEdited}},
        {"edit stock", Action::EditStock, {notEdited}},
        {"edit purchase price", Action::EditPurchasePrice, {notEdited}},
        {"edit sale price", Action::EditSalePrice, {notEdited}},
        {"delete product", Action::DeleteProduct, {askDelete, notDeleted}},
        {"delete purchase",
         Action::DeletePurchase,
         {"提示: 删除此条进货信息，会影响商品的库存数据，是否确定删除?", notDeleted}},
        {"pay",
         Action::Pay,
         {"Quorrin1009: 请先确认订单信息无误，是否继续结算", "Quorrin1009: 结算失败，订单未保存"}},
    };
    for (const auto& refusal : {std::make_pair("query_only", Refusal::QueryOnly),
                                std::make_pair("read-only file", Refusal::ReadOnlyFile)}) {
        for (const auto& action : actions)
            QTest::addRow("%s, %s", action.name, refusal.first)
                << action.action << refusal.second << action.boxes;
    }
}

void TestFailedWrites::failedWriteIsToldAndChangesNothing()
{
    QFETCH(Action, action);
    QFETCH(Refusal, refusal);
    QFETCH(QStringList, boxes);
    if (refusal == Refusal::QueryOnly)
        store->RefuseWrites();
    else if (!ReopenReadOnly())
        QSKIP("file modes cannot be made to hold for this process");
    QVERIFY(stockDb.IsOpen());

    view = Open(action);
    const StoreSnapshot stored = SnapshotStore();
    const QByteArray file = FileDigest(store->DbPath());
    const QList<QStringList> shown = ModelRows(view->model());
    QVERIFY(!shown.isEmpty());
    QVERIFY(TakeBoxes().isEmpty());

    Perform(action);

    QCOMPARE(TakeBoxes(), boxes);
    QCOMPARE(SnapshotStore(), stored);
    QCOMPARE(FileDigest(store->DbPath()), file);
    QCOMPARE(ModelRows(view->model()), shown);
    ++failedWritesReported;
}

void TestFailedWrites::lostCommitReplyCountsAsStored_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("boxes");
    QTest::newRow("pay") << Action::Pay << "orders"
                         << QStringList("Quorrin1009: 请先确认订单信息无误，是否继续结算");
    QTest::newRow("book") << Action::BookKnownBarcode << "purchases" << QStringList();
}

// The server stores the change, and the link breaks before its answer.
void TestFailedWrites::lostCommitReplyCountsAsStored()
{
    QFETCH(Action, action);
    QFETCH(QString, table);
    QFETCH(QStringList, boxes);
    TempStore::ServerConnection();
    CutProxy relay(TempStore::ServerPort());
    appContext.storeEngine = "postgresql";
    appContext.storeConnection = relay.Connection();
    stockDb.OpenStockDb(QString());
    QVERIFY(stockDb.ExeSql("DROP TABLE providers, products, purchases, orders, orderdetail"));
    stockDb.OpenStockDb(QString());
    QVERIFY(SeedEveryTable());
    const int stored = StoredRows(table).size();
    view = Open(action);
    QVERIFY(TakeBoxes().isEmpty());

    relay.Arm("COMMIT", true);
    Perform(action);
    QVERIFY(relay.Fired());
    QCOMPARE(TakeBoxes(), boxes);
    QCOMPARE(StoredRows(table).size(), stored + 1);
}

// Shows the screen the action happens on, ready for it; returns its table.
QTableView* TestFailedWrites::Open(Action action)
{
    switch (action) {
    case Action::AddProvider:
    case Action::DeleteProvider:
        screen = new CTProviderManager();
        host = ShowAsTab(screen);
        return FindChild<QTableView>(screen, "tableView");
    case Action::BookKnownBarcode:
    case Action::BookNewBarcode: {
        auto* stockIn = new CTTodayPurchase();
        stockIn->SetProviderMap({{"甲", "11"}, {"乙", "12"}});
        screen = stockIn;
        host = ShowAsTab(screen);
        return FindChild<QTableView>(screen, "tv_purchase");
    }
    case Action::EditName:
    case Action::EditStock:
    case Action::EditPurchasePrice:
    case Action::EditSalePrice:
    case Action::DeleteProduct:
        screen = new CTStockManager();
        host = ShowAsTab(screen);
        return FindChild<QTableView>(screen, "tv_ptstock");
    case Action::DeletePurchase: {
        auto* history = new CTTPurchaseManager();
        screen = history;
        host = ShowAsTab(screen);
        history->RefreshPurchaseList();
        return FindChild<QTableView>(screen, "tv_puchases");
    }
    case Action::Pay: {
        screen = new CTTodaySale();
        host = ShowAsTab(screen);
        auto* barcode = FindChild<QLineEdit>(screen, "le_barcode");
        for (const char* code : {"6901234567890", "0123"}) {
            QTest::keyClicks(barcode, code);
            QTest::keyClick(barcode, Qt::Key_Return);
        }
        return FindChild<QTableView>(screen, "tv_salelist");
    }
    }
    qFatal("no screen for this action");
}

void TestFailedWrites::Perform(Action action)
{
    const auto click = [this](const char* button) {
        QTest::mouseClick(FindChild<QPushButton>(screen, button), Qt::LeftButton);
    };
    const auto fill = [this](const char* field, const QString& text) {
        auto* edit = FindChild<QLineEdit>(screen, field);
        edit->clear();
        Type(edit, text);
    };
    const auto deleteFirstRow = [this] {
        MessageBoxes::SetNextAnswer(QMessageBox::Yes);
        RightClickFirstEntry(view, view->visualRect(view->model()->index(0, 0)).center());
    };

    switch (action) {
    case Action::AddProvider:
        fill("le_pname", "丙");
        click("pb_AddItem");
        break;
    case Action::DeleteProvider:
    case Action::DeleteProduct:
    case Action::DeletePurchase:
        deleteFirstRow();
        break;
    case Action::BookKnownBarcode:
    case Action::BookNewBarcode:
        fill("le_ptname", "笔");
        fill("le_ptbarcode", action == Action::BookNewBarcode ? "999" : "6901234567890");
        fill("le_ptnum", "5");
        fill("le_ptoprice", "2");
        fill("le_ptrpice", "3.5");
        click("pb_addpurchase");
        break;
    case Action::EditName:
        EditCell(0, "钢笔");
        break;
    case Action::EditStock:
        EditCell(2, "40");
        break;
    case Action::EditPurchasePrice:
        EditCell(3, "1.25");
        break;
    case Action::EditSalePrice:
        EditCell(4, "9.5");
        break;
    case Action::Pay:
        MessageBoxes::SetNextAnswer(QMessageBox::Yes);
        click("pb_pay");
        break;
    }
}

void TestFailedWrites::EditCell(int column, const QString& typed)
{
    const QModelIndex index = view->model()->index(0, column);
    view->setCurrentIndex(index);
    view->edit(index);
    QWidget* editor = view->indexWidget(index);
    QVERIFY(editor);
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    Type(editor, typed);
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_VERIFY(!view->indexWidget(index));
}

QTEST_MAIN(TestFailedWrites)
#include "tst_failedwrites.moc"
