// The printer settings dialog: entries, preview and test print.
#include "screens/CTPrinterDialog.h"

#include "receipt/PrintQueue.h"
#include "receipt/ReceiptBytes.h"
#include "screens/MessageBoxes.h"
#include "ui_printer.h"

#include <QDateTime>
#include <QDir>
#include <QFontDatabase>
#include <QScrollBar>

namespace {
const char kTitle[] = "Quorrin1009";

// A sale as the counter would print it, with a name long enough to wrap.
Receipt SampleReceipt()
{
    return {QStringLiteral("销售小票"),
            QString(),
            QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss"),
            QStringLiteral("1234567890123456789"),
            {{QStringLiteral("可口可乐 Coca-Cola 500ml 瓶装汽水饮料"), 2, 350, 700},
             {QStringLiteral("农夫山泉 550ml"), 1, 200, 200}},
            900};
}
} // namespace

CTPrinterDialog::CTPrinterDialog(const QString& appDir, const PrinterSettings& current,
                                 QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::printer>()), appDir(appDir),
      queue(new PrintQueue(this))
{
    ui->setupUi(this);
    // The printers the usblp driver offers.
    for (const QFileInfo& device :
         QDir("/dev/usb", "lp*", QDir::Name, QDir::System).entryInfoList())
        ui->cb_connection->addItem(device.filePath());
    ui->cb_connection->setCurrentText(current.connection);
    ui->cb_width->setCurrentText(QString::number(current.width));
    ui->cb_encoding->setCurrentText(current.encoding);
    ui->ck_autoprint->setChecked(current.autoPrint);
    ui->ck_drawer->setChecked(current.drawer);
    ui->le_header->setText(current.header);
    ui->le_footer->setText(current.footer);
    ui->te_preview->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    connect(ui->cb_width, &QComboBox::currentTextChanged, this, &CTPrinterDialog::ShowPreview);
    connect(ui->cb_encoding, &QComboBox::currentTextChanged, this, &CTPrinterDialog::ShowPreview);
    connect(ui->le_header, &QLineEdit::textChanged, this, &CTPrinterDialog::ShowPreview);
    connect(ui->le_footer, &QLineEdit::textChanged, this, &CTPrinterDialog::ShowPreview);
    connect(ui->pb_testprint, &QPushButton::clicked, this, &CTPrinterDialog::TestPrint);
    connect(queue, &PrintQueue::Finished, this, &CTPrinterDialog::ShowTestResult);
    ShowPreview();
}

CTPrinterDialog::~CTPrinterDialog() = default;

PrinterSettings CTPrinterDialog::Settings() const
{
    PrinterSettings settings;
    settings.connection = ui->cb_connection->currentText().trimmed();
    settings.width = ui->cb_width->currentText().toInt();
    settings.encoding = ui->cb_encoding->currentText();
    settings.autoPrint = ui->ck_autoprint->isChecked();
    settings.drawer = ui->ck_drawer->isChecked();
    settings.header = ui->le_header->text();
    settings.footer = ui->le_footer->text();
    return settings;
}

// The sample as it prints, in a box as wide as the paper's columns.
void CTPrinterDialog::ShowPreview()
{
    const PrinterSettings settings = Settings();
    ui->te_preview->setPlainText(ReceiptText(SampleReceipt(), settings).join('\n'));
    const QFontMetrics metrics(ui->te_preview->font());
    const int columns = settings.width == 80 ? 48 : 32;
    ui->te_preview->setFixedWidth(metrics.horizontalAdvance(QString(columns + 2, 'M')) +
                                  ui->te_preview->verticalScrollBar()->sizeHint().width());
}

void CTPrinterDialog::TestPrint()
{
    const PrinterSettings settings = Settings();
    if (settings.connection.isEmpty()) {
        MessageBoxes::Information(this, kTitle, QStringLiteral("请先填写打印机的连接"));
        return;
    }
    ui->pb_testprint->setEnabled(false);
    queue->Send(settings.connection, ReceiptBytes(SampleReceipt(), settings, false));
}

void CTPrinterDialog::ShowTestResult(const QString& reason)
{
    ui->pb_testprint->setEnabled(true);
    if (reason.isEmpty()) {
        MessageBoxes::Information(this, kTitle, QStringLiteral("测试页已发送到打印机"));
        return;
    }
    QString text = QStringLiteral("测试页未打印：") + reason;
    // usblp's devices belong to the group lp.
    if (reason.contains(QLatin1String("Permission denied")))
        text += QStringLiteral("\n请把运行本程序的用户加入 lp 组（sudo usermod -aG lp 用户名），"
                               "重新登录后再试。");
    MessageBoxes::Information(this, kTitle, text);
}

void CTPrinterDialog::accept()
{
    if (!SavePrinterSettings(appDir, Settings())) {
        MessageBoxes::Information(this, kTitle,
                                  QStringLiteral("plconfig.ini 写入失败，设置未保存"));
        return;
    }
    QDialog::accept();
}
