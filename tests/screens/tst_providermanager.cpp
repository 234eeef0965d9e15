#include "screens/CTProviderManager.h"
#include "screens/MessageBoxes.h"
#include "store/StockDb.h"
#include "support_ScreenTest.h"
#include "support_TempStore.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTextEdit>
#include <QtTest>
#include <memory>

class TstProviderManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void storedProvidersAreListed();
    void nameIsRefused_data();
    void nameIsRefused();
    void addAppendsRowAndRenewsIdentifier();
    void refusedInsertChangesNothing_data();
    void refusedInsertChangesNothing();
    void deleteThroughMenu_data();
    void deleteThroughMenu();
    void noMenuBelowTheRows();
    void failedDeleteKeepsRow();

private:
    template <class T> T* Child(const char* name) { return FindChild<T>(screen, name); }
    QTableView* Table() { return Child<QTableView>("tableView"); }
    QStandardItemModel* Model() { return qobject_cast<QStandardItemModel*>(Table()->model()); }
    QString Guid() { return Child<QLineEdit>("LE_PGUID")->text(); }
    void Open();
    void Add(const QString& name, const QString& business = QString());
    QStringList RightClickDelete(int row);

    std::unique_ptr<TempStore> store;
    std::unique_ptr<QTabWidget> host;
    CTProviderManager* screen = nullptr;
};

void TstProviderManager::initTestCase()
{
    UseForwardMovingClock();
}

void TstProviderManager::init()
{
    MessageBoxes::SetTestMode(true);
    store = std::make_unique<TempStore>();
    QVERIFY(store->IsOpen());
}

void TstProviderManager::cleanup()
{
    host.reset();
    store.reset();
}

void TstProviderManager::Open()
{
    screen = new CTProviderManager();
    host = ShowAsTab(screen);
}

void TstProviderManager::Add(const QString& name, const QString& business)
{
    Child<QLineEdit>("le_pname")->clear();
    Type(Child<QLineEdit>("le_pname"), name);
    QTest::keyClicks(Child<QLineEdit>("le_pphone"), "0571-1");
    QTextEdit* businessEdit = Child<QTextEdit>("le_pbusiniess");
    businessEdit->clear();
    Type(businessEdit, business);
    QTest::mouseClick(Child<QPushButton>("pb_AddItem"), Qt::LeftButton);
}

// A right-click on the row's cell, or below the rows when there is no such
// row; returns the entries of the menu that popped up.
QStringList TstProviderManager::RightClickDelete(int row)
{
    const QPoint pos = row < Model()->rowCount()
                           ? Table()->visualRect(Model()->index(row, 0)).center()
                           : QPoint(5, Table()->viewport()->height() - 5);
    return RightClickFirstEntry(Table(), pos);
}

void TstProviderManager::storedProvidersAreListed()
{
    QVERIFY(stockDb.InsertProvider("11", "乙", "1", "路", "L1", "F1", "粮\n油"));
    QVERIFY(stockDb.InsertProvider("12", "甲", "2", "街", "L2", "F2", ""));
    Open();
    QCOMPARE(Model()->rowCount(), 2);
    const QStringList first{"乙", "1", "路", "L1", "F1", "粮\n油", "11"};
    for (int column = 0; column < 7; ++column)
        QCOMPARE(Model()->item(0, column)->text(), first.at(column));
    QCOMPARE(Model()->item(1, 6)->text(), QString("12"));
    QVERIFY(QRegularExpression("^[1-9][0-9]+$").match(Guid()).hasMatch());
}

void TstProviderManager::nameIsRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << QString() << "供应商名称不能为空";
    // A namesake could not be told apart when goods are booked in.
    QTest::newRow("stored name") << "早"
                                 << "供应商名称已存在";
    QTest::newRow("stored name within blanks") << " 早\t"
                                               << "供应商名称已存在";
}

void TstProviderManager::nameIsRefused()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    QVERIFY(stockDb.InsertProvider("11", "早", "", "", "", "", ""));
    Open();
    const QString guid = Guid();
    Add(name);
    QCOMPARE(TakeBoxes(), QStringList{"Quorrin1009: " + message});
    QCOMPARE(Guid(), guid);
    QCOMPARE(Model()->rowCount(), 1);
    QCOMPARE(store->Count("providers"), 1);
}

void TstProviderManager::addAppendsRowAndRenewsIdentifier()
{
    QVERIFY(stockDb.InsertProvider("11", "早", "", "", "", "", ""));
    Open();
    QStringList guids;
    for (const QString& name : {QString("早晚"), QString("同名")}) {
        guids << Guid();
        Add(name, "粮\n油");
        QCOMPARE(TakeBoxes(), QStringList{"Quorrin1009: 添加成功"});
        QVERIFY(Guid() != guids.last());
    }
    QCOMPARE(Child<QLineEdit>("le_pname")->text(), QString("同名"));
    QCOMPARE(Model()->rowCount(), 3);
    for (int row = 1; row < 3; ++row) {
        QCOMPARE(Model()->item(row, 0)->text(), row == 1 ? QString("早晚") : QString("同名"));
        QCOMPARE(Model()->item(row, 5)->text(), QString("粮\n油"));
        QCOMPARE(Model()->item(row, 6)->text(), guids.at(row - 1));
        QCOMPARE(store
                     ->Scalar("SELECT provider_business FROM providers WHERE provider_guid=" +
                              guids.at(row - 1))
                     .toString(),
                 QString("粮\n油"));
    }
}

void TstProviderManager::refusedInsertChangesNothing_data()
{
    QTest::addColumn<bool>("duplicateKey");
    QTest::newRow("identifier already stored") << true;
    QTest::newRow("store refuses writes") << false;
}

void TstProviderManager::refusedInsertChangesNothing()
{
    QFETCH(bool, duplicateKey);
    Open();
    const QString guid = Guid();
    if (duplicateKey)
        QVERIFY(stockDb.InsertProvider(guid, "先到", "", "", "", "", ""));
    else
        store->RefuseWrites();
    Add("后到");
    QCOMPARE(TakeBoxes(), QStringList{"Quorrin1009: 添加失败"});
    QCOMPARE(Model()->rowCount(), 0);
    QCOMPARE(store->Count("providers"), duplicateKey ? 1 : 0);
    QVERIFY(Guid() != guid);
}

void TstProviderManager::deleteThroughMenu_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QStringList>("remaining");
    QTest::newRow("yes") << true << QStringList{"11", "13"};
    QTest::newRow("no") << false << QStringList{"11", "12", "13"};
}

void TstProviderManager::deleteThroughMenu()
{
    QFETCH(bool, yes);
    QFETCH(QStringList, remaining);
    for (const char* guid : {"11", "12", "13"})
        QVERIFY(stockDb.InsertProvider(guid, "P", "", "", "", "", ""));
    Open();
    MessageBoxes::SetNextAnswer(yes ? QMessageBox::Yes : QMessageBox::No);
    QCOMPARE(RightClickDelete(1), QStringList{"删除"});
    QCOMPARE(TakeBoxes(), QStringList{"提示: 是否删除本行数据?"});
    QStringList listed;
    for (int row = 0; row < Model()->rowCount(); ++row)
        listed << Model()->item(row, 6)->text();
    QCOMPARE(listed, remaining);
    QCOMPARE(store->Count("providers"), remaining.size());
}

void TstProviderManager::noMenuBelowTheRows()
{
    QVERIFY(stockDb.InsertProvider("11", "P", "", "", "", "", ""));
    Open();
    QVERIFY(RightClickDelete(1).isEmpty());
    QVERIFY(TakeBoxes().isEmpty());
    QCOMPARE(Model()->rowCount(), 1);
}

void TstProviderManager::failedDeleteKeepsRow()
{
    QVERIFY(stockDb.InsertProvider("11", "P", "", "", "", "", ""));
    Open();
    store->RefuseWrites();
    MessageBoxes::SetNextAnswer(QMessageBox::Yes);
    QCOMPARE(RightClickDelete(0), QStringList{"删除"});
    QCOMPARE(TakeBoxes(),
             (QStringList{"提示: 是否删除本行数据?", "Quorrin1009: 删除失败，数据未更改"}));
    QCOMPARE(Model()->rowCount(), 1);
    QCOMPARE(store->Count("providers"), 1);
}

QTEST_MAIN(TstProviderManager)
#include "tst_providermanager.moc"
