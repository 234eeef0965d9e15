#include "screens/CTPasswordDialog.h"
#include "screens/MessageBoxes.h"
#include "store/StockDb.h"
#include "support_TempStore.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

class TestPasswordDialog : public QObject
{
    Q_OBJECT
private slots:
    void init() { MessageBoxes::SetTestMode(true); }
    void checksInOrderThenRekeys_data();
    void checksInOrderThenRekeys();
    void startAsksThreeTimes_data();
    void startAsksThreeTimes();
};

static QByteArray Bytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestPasswordDialog::checksInOrderThenRekeys_data()
{
    // The store's key before and after ("": the program's), the three entries, the box.
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("keyAfter");
    // clang-format off
    QTest::newRow("wrong current first") << "旧的密码旧的密码" << QStringList{"旧的", "a", "b"} << "当前密码不正确" << "旧的密码旧的密码";
    QTest::newRow("differ before short") << "" << QStringList{"", "abc", "abd"} << "两次输入的密码不一致" << "";
    QTest::newRow("short") << "" << QStringList{"", "1234567", "1234567"} << "密码至少需要8个字符" << "";
    QTest::newRow("set") << "" << QStringList{"", "12345678", "12345678"} << "密码已修改" << "12345678";
    QTest::newRow("change") << "12345678" << QStringList{"12345678", "新的 'key'", "新的 'key'"} << "密码已修改" << "新的 'key'";
    QTest::newRow("remove") << "12345678" << QStringList{"12345678", "", ""} << "密码已修改" << "";
    // clang-format on
}

void TestPasswordDialog::checksInOrderThenRekeys()
{
    QFETCH(QString, key);
    QFETCH(QStringList, entries);
    QFETCH(QString, box);
    QFETCH(QString, keyAfter);
    TempStore store;
    QVERIFY(key.isEmpty() || stockDb.ChangeKey(key));
    CTPasswordDialog dialog;
    const QStringList fields = {"le_oldpassword", "le_newpassword", "le_newpassword2"};
    for (int i = 0; i < fields.size(); ++i) {
        auto* field = dialog.findChild<QLineEdit*>(fields[i]);
        QCOMPARE(field->echoMode(), QLineEdit::Password);
        QCOMPARE(field->isEnabled(), i > 0 || !key.isEmpty());
        field->setText(entries[i]);
    }
    dialog.findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Ok)->click();
    const QList<MessageBoxes::Shown> shown = MessageBoxes::TakeShown();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].title + shown[0].text, "Quorrin1009" + box);

    stockDb.OpenStockDb(QString());
    QVERIFY(keyAfter.isEmpty() ? stockDb.IsOpen() : stockDb.OpenWithPassphrase(keyAfter));
}

void TestPasswordDialog::startAsksThreeTimes_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("prompts");
    QTest::addColumn<bool>("opens");
    QTest::newRow("right on the third") << QStringList{"", "wrong one", "the shop's"} << 3 << true;
    QTest::newRow("three wrong") << QStringList{"a", "b", "c", "the shop's"} << 3 << false;
    QTest::newRow("cancelled") << QStringList() << 1 << false;
}

void TestPasswordDialog::startAsksThreeTimes()
{
    QFETCH(QStringList, entries);
    QFETCH(int, prompts);
    QFETCH(bool, opens);
    TempStore store;
    QVERIFY(stockDb.ChangeKey("the shop's"));
    stockDb.OpenStockDb(QString());
    const QByteArray before = Bytes(store.DbPath());
    for (const QString& entry : entries)
        MessageBoxes::SetNextEntry(entry);
    CTPasswordDialog::UnlockStore();
    QCOMPARE(stockDb.IsOpen(), opens);
    QVERIFY(opens || Bytes(store.DbPath()) == before);
    const QList<MessageBoxes::Shown> shown = MessageBoxes::TakeShown();
    QCOMPARE(shown.size(), prompts);
    for (int i = 0; i < prompts; ++i)
        QCOMPARE(shown[i].title + shown[i].text, QString(i ? "Quorrin1009密码错误\n请输入数据库密码"
                                                           : "Quorrin1009请输入数据库密码"));
}

QTEST_MAIN(TestPasswordDialog)
#include "tst_passworddialog.moc"
