#include "screens/CTPasswordDialog.h"

#include "screens/MessageBoxes.h"
#include "store/StockDb.h"
#include "ui_password.h"

namespace {
const int kTries = 3;
const int kShortestPassphrase = 8;
const char kTitle[] = "Quorrin1009";
} // namespace

CTPasswordDialog::CTPasswordDialog(QWidget* parent) : QDialog(parent), ui(new Ui::password)
{
    ui->setupUi(this);
    ui->le_oldpassword->setEnabled(!stockDb.HasProgramKey());
}

CTPasswordDialog::~CTPasswordDialog()
{
    delete ui;
}

QString CTPasswordDialog::UnlockStore()
{
    if (!stockDb.KeyRefused())
        return QString();
    // SQLCipher cannot tell a wrong key from a damaged first page. A file
    // that never had a passphrase has nothing to ask for: it is damaged.
    const bool neverKeyed = stockDb.KeyNeverChanged();
    QString label = QStringLiteral("请输入数据库密码");
    for (int tried = 0; tried < kTries && !neverKeyed; ++tried) {
        QString passphrase;
        if (!MessageBoxes::AskSecret(nullptr, kTitle, label, passphrase))
            break;
        if (stockDb.OpenWithPassphrase(passphrase))
            return QString();
        label = QStringLiteral("密码未被接受（也可能是数据库文件已损坏）\n请输入数据库密码");
    }
    return (neverKeyed
                ? QStringLiteral("数据库文件 Stock.db 已损坏：它从未设置过密码，"
                                 "却无法用程序的密钥打开。")
                : QStringLiteral("数据库未能打开：密码未被接受，或数据库文件 Stock.db 已损坏。")) +
           QStringLiteral("程序将在没有数据库的情况下启动，数据将无法保存。\n\n"
                          "从备份恢复：\n"
                          "1. 退出本程序；\n"
                          "2. 在程序文件夹中把 Stock.db 改名为 Stock.db.damaged，"
                          "删除 Stock.db-journal（如有），"
                          "再把 backup 文件夹中最近一天的 Stock-yyyy-MM-dd.db 复制为 Stock.db；\n"
                          "3. 重新启动程序（备份若设有密码，输入备份当天的密码）。");
}

QString CTPasswordDialog::Refusal() const
{
    const QString passphrase = ui->le_newpassword->text();
    if (!stockDb.HasProgramKey() && ui->le_oldpassword->text() != stockDb.Password())
        return QStringLiteral("当前密码不正确");
    if (ui->le_newpassword2->text() != passphrase)
        return QStringLiteral("两次输入的密码不一致");
    if (!passphrase.isEmpty() && passphrase.size() < kShortestPassphrase)
        return QStringLiteral("密码至少需要8个字符");
    return QString();
}

void CTPasswordDialog::accept()
{
    const QString refusal = Refusal();
    if (!refusal.isEmpty()) {
        MessageBoxes::Information(this, kTitle, refusal);
        return;
    }
    emit KeyAboutToChange();
    if (!stockDb.ChangeKey(ui->le_newpassword->text())) {
        MessageBoxes::Information(this, kTitle,
                                  (stockDb.IsOpen()
                                       ? QStringLiteral("密码修改失败，密码未更改\n")
                                       : QStringLiteral("密码修改失败，数据库无法重新打开，"
                                                        "请重新启动程序\n")) +
                                      stockDb.KeyChangeError());
        return;
    }
    emit KeyChanged();
    MessageBoxes::Information(this, kTitle, QStringLiteral("密码已修改"));
    QDialog::accept();
}
