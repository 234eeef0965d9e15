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

void CTPasswordDialog::UnlockStore()
{
    QString label = QStringLiteral("请输入数据库密码");
    for (int tried = 0; tried < kTries && stockDb.KeyRefused(); ++tried) {
        QString passphrase;
        if (!MessageBoxes::AskSecret(nullptr, kTitle, label, passphrase))
            return;
        if (stockDb.OpenWithPassphrase(passphrase))
            return;
        label = QStringLiteral("密码错误\n请输入数据库密码");
    }
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
        MessageBoxes::Information(
            this, kTitle, QStringLiteral("密码修改失败，密码未更改\n") + stockDb.OpenErrorText());
        return;
    }
    MessageBoxes::Information(this, kTitle, QStringLiteral("密码已修改"));
    QDialog::accept();
}
