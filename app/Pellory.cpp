#include "app/Pellory.h"

#include "app/ReceiptPrinter.h"
#include "app/TabPageGuard.h"
#include "screens/CTPasswordDialog.h"
#include "screens/CTPrinterDialog.h"
#include "screens/CsvExport.h"
#include "screens/MessageBoxes.h"
#include "store/StockDb.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QHash>
#include <QLabel>
#include <QMap>
#include <QMenu>
#include <QScreen>
#include <QTabBar>
#include <QToolButton>
#include <QUrl>

namespace {
const char kBuildText[] = "1009";

QIcon TabIcon(const char* file)
{
    return QIcon::fromTheme("select", QIcon(QString(":/Pellory/images/") + file));
}

// The stock-in choice list: shown text -> provider_guid. One entry per name
// would silently book the goods of one namesake against another, so
// namesakes are told apart by their phone, or by their identifier where the
// phone does not tell them apart. A unique name shows as it is.
QMap<QString, QString> ProviderChoices(const ProviderList& providers)
{
    const auto labelled = [](const ProviderInfo& provider, const QString& detail) {
        return provider.provider_name + QStringLiteral("（") + detail + QStringLiteral("）");
    };
    QHash<QString, int> names, phoneLabels;
    for (const ProviderInfo& provider : providers)
        ++names[provider.provider_name];
    for (const ProviderInfo& provider : providers)
        ++phoneLabels[labelled(provider, provider.provider_phone)];

    QMap<QString, QString> choices;
    for (const ProviderInfo& provider : providers) {
        QString label = provider.provider_name;
        if (names.value(label) > 1) {
            label = labelled(provider, provider.provider_phone);
            if (provider.provider_phone.isEmpty() || phoneLabels.value(label) > 1 ||
                names.contains(label))
                label = labelled(provider, provider.provider_guid);
        }
        choices.insert(label, provider.provider_guid);
    }
    return choices;
}

} // namespace

Pellory::Pellory(QString appDir, QWidget* parent)
    : QMainWindow(parent), appDir(appDir),
      receiptPrinter(new ReceiptPrinter(LoadPrinterSettings(appDir), this))
{
    ui.setupUi(this);
    // Smaller, the statistics chart cuts its amounts to "…"; a smaller screen
    // gets all it has.
    const QSize firstSize(1280, 720);
    resize(screen() ? firstSize.boundedTo(screen()->availableGeometry().size()) : firstSize);

    ui.tab_maintools->clear();
    ui.tab_maintools->addTab(&todaySale, TabIcon("todaysale.png"), tr("今日出货"));
    ui.tab_maintools->addTab(&orderManager, TabIcon("order.png"), tr("订单管理"));
    ui.tab_maintools->addTab(&stockManager, TabIcon("stock.png"), tr("库存管理"));
    ui.tab_maintools->addTab(&todayPurchase, TabIcon("purchase.png"), tr("今日进货"));
    ui.tab_maintools->addTab(&purchaseManager, TabIcon("purchasemanager.png"), tr("进货管理"));
    ui.tab_maintools->addTab(&providerManager, TabIcon("provider.png"), tr("供应商管理"));
    ui.tab_maintools->addTab(&statistics, TabIcon("statistics.png"), tr("经营统计"));

    auto* pageGuard = new TabPageGuard(this);
    for (int index = 0; index < ui.tab_maintools->count(); ++index)
        ui.tab_maintools->widget(index)->installEventFilter(pageGuard);

    ui.tab_maintools->tabBar()->setFixedWidth(width());

    // Connected after the first selection so it runs no refresh.
    ui.tab_maintools->setCurrentIndex(0);
    connect(ui.tab_maintools, SIGNAL(currentChanged(int)), this, SLOT(OnCurrentChanged(int)));

    checkVerTimer.start(60000);
    connect(&checkVerTimer, SIGNAL(timeout()), this, SLOT(OnHandleCheckVerTimeOut()));
    clockTimer.start(1000);
    connect(&clockTimer, SIGNAL(timeout()), this, SLOT(OnHandleTimerOut()));

    catchThread.start(QThread::HighestPriority);
    connect(&catchThread, SIGNAL(notifyResult(QString)), this, SLOT(HandleCatchResult(QString)));

    todaySale.FocusBarcodeInput();

    CreateTrayActions();
    trayMenu = new QMenu(this);
    trayMenu->addAction(hideAction);
    trayMenu->addAction(maximizeAction);
    trayMenu->addAction(restoreAction);
    trayMenu->addAction(passwordAction);
    trayMenu->addAction(printerAction);
    trayMenu->addAction(drawerAction);
    trayMenu->addSeparator();
    trayMenu->addAction(quitAction);

    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setContextMenu(trayMenu);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &Pellory::iconActivated);

    const QIcon icon(":/Pellory/images/exe.png");
    trayIcon->setIcon(icon);
    setWindowIcon(icon);
    trayIcon->setToolTip("Quorrin1009");
    trayIcon->setVisible(true);

    // Beside the clock, which takes the status bar's message.
    QLabel* lowStock = AddFailureLabel("lb_lowStock");
    connect(&todaySale, &CTTodaySale::LowStockNoted, lowStock, [lowStock](const QString& note) {
        lowStock->setText(note);
        lowStock->setVisible(!note.isEmpty());
    });
    backupFailure = AddFailureLabel("lb_backupFailure");
    printFailure = AddFailureLabel("lb_printFailure");
    // Some desktops show no tray: the passphrase and the printer are in the
    // window too.
    AddStatusButton(passwordAction);
    AddStatusButton(printerAction);

    connect(&todaySale, &CTTodaySale::SalePaid, receiptPrinter, &ReceiptPrinter::PrintSale);
    connect(&orderManager, &CTOrderManager::ReprintAsked, receiptPrinter, &ReceiptPrinter::Reprint);
    connect(&orderManager, &CTOrderManager::ReturnStored, receiptPrinter,
            &ReceiptPrinter::PrintReturn);
    connect(receiptPrinter, &ReceiptPrinter::Finished, this, &Pellory::ShowPrintResult);
    backupRekeyed = new QLabel(this);
    backupRekeyed->setObjectName("lb_backupRekeyed");
    backupRekeyed->hide();
    ui.statusBar->addPermanentWidget(backupRekeyed);
    // A change of key closes the store's connection: an export reading
    // through it would end short.
    connect(&ExportActivity::Instance(), &ExportActivity::RunningChanged, passwordAction,
            [this](bool running) { passwordAction->setEnabled(!running); });

    // Hidden in the tray, no window is left visible, and Qt would end the
    // program as soon as any box is answered, taking an open sale with it.
    // Only the window's close button and "退出" end it (closeEvent).
    QApplication::setQuitOnLastWindowClosed(false);
}

Pellory::~Pellory()
{
    // Destroying the pages makes the tab to their left current; no page may
    // refresh, or ask the user anything, while the window is going away.
    disconnect(ui.tab_maintools, SIGNAL(currentChanged(int)), this, SLOT(OnCurrentChanged(int)));
    catchThread.SetCommand(3);
    catchThread.quit();
    catchThread.wait();
}

QLabel* Pellory::AddFailureLabel(const char* name)
{
    auto* label = new QLabel(this);
    label->setObjectName(name);
    QPalette red = label->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    label->setPalette(red);
    label->hide();
    ui.statusBar->addPermanentWidget(label);
    return label;
}

// Out of the Tab order, so that Tab still leads from field to field.
void Pellory::AddStatusButton(QAction* action)
{
    auto* button = new QToolButton(ui.statusBar);
    button->setDefaultAction(action);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    ui.statusBar->addPermanentWidget(button);
    button->setVisible(action->isVisible());
}

void Pellory::CreateTrayActions()
{
    hideAction = new QAction(tr("隐藏"), this);
    connect(hideAction, &QAction::triggered, this, &QWidget::hide);
    maximizeAction = new QAction(tr("最大化"), this);
    connect(maximizeAction, &QAction::triggered, this, &QWidget::showMaximized);
    restoreAction = new QAction(tr("恢复"), this);
    connect(restoreAction, &QAction::triggered, this, &QWidget::showNormal);
    quitAction = new QAction(tr("退出"), this);
    connect(quitAction, &QAction::triggered, qApp, &QCoreApplication::quit);
    passwordAction = new QAction(tr("设置数据库密码"), this);
    passwordAction->setObjectName("passwordAction");
    passwordAction->setVisible(stockDb.KeyCanChange());
    connect(passwordAction, &QAction::triggered, this, &Pellory::OnSetPassword);
    printerAction = new QAction(tr("打印机设置"), this);
    printerAction->setObjectName("printerAction");
    connect(printerAction, &QAction::triggered, this, &Pellory::OnPrinterSettings);
    drawerAction = new QAction(tr("开钱箱"), this);
    drawerAction->setObjectName("drawerAction");
    drawerAction->setVisible(receiptPrinter->HasPrinter());
    connect(drawerAction, &QAction::triggered, receiptPrinter, &ReceiptPrinter::OpenDrawer);
}

void Pellory::iconActivated(QSystemTrayIcon::ActivationReason) {}

void Pellory::showMessage() {}

void Pellory::messageClicked() {}

void Pellory::OnHandleSqlInit() {}

void Pellory::OnSetPassword()
{
    CTPasswordDialog dialog(this);
    connect(&dialog, &CTPasswordDialog::KeyAboutToChange, this, [this] {
        backupRekeyed->hide();
        emit StoreKeyChanging();
    });
    connect(&dialog, &CTPasswordDialog::KeyChanged, this, &Pellory::StoreKeyChanged);
    dialog.exec();
}

void Pellory::OnPrinterSettings()
{
    CTPrinterDialog dialog(appDir, receiptPrinter->Settings(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    receiptPrinter->SetSettings(dialog.Settings());
    drawerAction->setVisible(receiptPrinter->HasPrinter());
    // Told of the printer before; without one nothing is said about printing.
    printFailure->hide();
}

void Pellory::HandleCatchResult(QString reply)
{
    const QByteArray bytes = reply.toUtf8();
    if (bytes.size() < 5 || !bytes.contains("verno"))
        return;

    QByteArray verno = bytes, title = bytes, newinfo = bytes, downurl = bytes;
    ExtractBetween(verno, "<verno>", "</verno>");
    ExtractBetween(title, "<title>", "</title>");
    ExtractBetween(newinfo, "<newinfo>", "</newinfo>");
    ExtractBetween(downurl, "<downurl>", "</downurl>");

    // The reply travels unauthenticated over plain HTTP: its texts are shown
    // as they are, never as markup (the title's "[*]" is doubled so that Qt
    // shows it instead of taking it for the modified marker).
    setWindowTitle(QString::fromUtf8(title).replace("[*]", "[*][*]"));
    // Offered once: a check asked for before the offer may still answer.
    if (verno == kBuildText || !checkVerTimer.isActive())
        return;

    checkVerTimer.stop();
    const QUrl url(QString::fromUtf8(downurl), QUrl::TolerantMode);
    MessageBoxes::AskAside(
        this, QMessageBox::Question, QStringLiteral("发现新版本 是否下载"),
        QString::fromUtf8(newinfo), true, Qt::PlainText, [url](QMessageBox::StandardButton answer) {
            // The reply is not authenticated: a local address
            // would start a local program.
            const QString scheme = url.scheme().toLower();
            if (answer != QMessageBox::No && (scheme == "http" || scheme == "https"))
                QDesktopServices::openUrl(url);
        });
}

void Pellory::ShowBackupResult(bool made, const QString& reason)
{
    backupFailure->setVisible(!made);
    if (made)
        return;
    backupFailure->setText(QStringLiteral("备份失败：") + QString(reason).replace('\n', ' '));
    trayIcon->showMessage(QStringLiteral("备份失败"), reason, QSystemTrayIcon::Warning);
}

void Pellory::ShowPrintResult(const QString& reason)
{
    printFailure->setVisible(!reason.isEmpty());
    if (reason.isEmpty())
        return;
    printFailure->setText(QStringLiteral("小票未打印：") + QString(reason).replace('\n', ' '));
    trayIcon->showMessage(QStringLiteral("小票未打印"), reason, QSystemTrayIcon::Warning);
}

void Pellory::ShowCopiesRekeyed()
{
    backupRekeyed->setText(QStringLiteral("备份已全部改用新密码加密（%1）")
                               .arg(QTime::currentTime().toString(QStringLiteral("HH:mm"))));
    backupRekeyed->show();
}

void Pellory::OnHandleCheckVerTimeOut()
{
    catchThread.RequestCheck(1);
}

void Pellory::OnHandleTimerOut()
{
    ui.statusBar->showMessage(QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss zzz"), 0);
}

void Pellory::OnCurrentChanged(int index)
{
    switch (index) {
    case 0:
        todaySale.FocusBarcodeInput();
        break;
    case 1:
        orderManager.ReloadOrders();
        break;
    case 2:
        stockManager.RefreshStockList();
        break;
    case 3: {
        const QMap<QString, QString> providerMap =
            ProviderChoices(stockDb.QueryAllProviders(0, 100));
        if (!providerMap.isEmpty()) {
            todayPurchase.SetProviderMap(providerMap);
            break;
        }
        MessageBoxes::Information(nullptr, "Quorrin1009", QStringLiteral("请先添加配置供应商信息"));
        ui.tab_maintools->setCurrentIndex(5);
        break;
    }
    case 4:
        purchaseManager.RefreshPurchaseList();
        break;
    case 5:
        // Providers added at another till, so that goods can be booked against them.
        if (stockDb.IsServer())
            providerManager.LoadProviders();
        break;
    case 6:
        statistics.ReloadStatistics();
        break;
    default:
        break;
    }
}

void Pellory::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    ui.tab_maintools->tabBar()->setFixedWidth(width());
}

void Pellory::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        QCoreApplication::quit();
}
