#pragma once

#include "screens/CTOrderManager.h"
#include "screens/CTProviderManager.h"
#include "screens/CTStatistics.h"
#include "screens/CTStockManager.h"
#include "screens/CTTPurchaseManager.h"
#include "screens/CTTodayPurchase.h"
#include "screens/CTTodaySale.h"
#include "ui_Pellory.h"
#include "update/CCatchThread.h"

#include <QMainWindow>
#include <QSystemTrayIcon>
#include <QTimer>

class QAction;
class ReceiptPrinter;
class QLabel;
class QMenu;

class Pellory : public QMainWindow
{
    Q_OBJECT
public:
    explicit Pellory(QString appDir, QWidget* parent = nullptr);
    ~Pellory() override;

    // Read access for tests and the start-up check.
    QTabWidget* Tabs() const { return ui.tab_maintools; }
    QStatusBar* StatusBar() const { return ui.statusBar; }
    QTimer* CheckVerTimer() { return &checkVerTimer; }
    QMenu* TrayMenu() const { return trayMenu; }
    CCatchThread* CatchThread() { return &catchThread; }

public slots:
    // How the day's backup went. Nobody asked, so a failure never takes the
    // keyboard from the barcode field: it comes up once as a tray message and
    // stays in the status bar, in red, until a copy is made.
    void ShowBackupResult(bool made, const QString& reason);
    // How a receipt or drawer job went, told the same way: the counter must
    // keep the keyboard while a customer waits.
    void ShowPrintResult(const QString& reason);
    // Every copy in backup/ has the store's new key: said in the status bar.
    void ShowCopiesRekeyed();
signals:
    // The store's key is about to change, and has changed (see CTPasswordDialog).
    void StoreKeyChanging();
    void StoreKeyChanged();

private slots:
    void iconActivated(QSystemTrayIcon::ActivationReason reason);
    void showMessage();
    void messageClicked();
    void HandleCatchResult(QString reply);
    void OnHandleCheckVerTimeOut();
    void OnHandleTimerOut();
    void OnCurrentChanged(int index);
    void OnHandleSqlInit();
    void OnSetPassword();
    void OnPrinterSettings();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateTrayActions();
    QLabel* AddFailureLabel(const char* name);
    void AddStatusButton(QAction* action);

    CCatchThread catchThread;
    QTimer checkVerTimer;
    QTimer clockTimer;
    Ui::PelloryClass ui;
    CTTodaySale todaySale;
    CTOrderManager orderManager;
    CTStockManager stockManager;
    CTTodayPurchase todayPurchase;
    CTTPurchaseManager purchaseManager;
    CTProviderManager providerManager;
    CTStatistics statistics;
    QAction* hideAction = nullptr;
    QAction* maximizeAction = nullptr;
    QAction* restoreAction = nullptr;
    QAction* quitAction = nullptr;
    QAction* passwordAction = nullptr;
    QAction* printerAction = nullptr;
    QAction* drawerAction = nullptr;
    QSystemTrayIcon* trayIcon = nullptr;
    QMenu* trayMenu = nullptr;
    QLabel* backupFailure = nullptr;
    QLabel* printFailure = nullptr;
    QString appDir;
    ReceiptPrinter* receiptPrinter = nullptr;
    QLabel* backupRekeyed = nullptr;
};
