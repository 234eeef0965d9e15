#pragma once

#include "store/Records.h"

#include <QDialog>
#include <memory>

class QAction;
class QDate;
class PagedModel;
class QMenu;
class QStandardItem;

namespace Ui {
class purchasemanager;
}

// The purchase history tab: finds booked-in purchases by bill number,
// barcode or day, and deletes one together with the stock it brought in.
class CTTPurchaseManager : public QDialog
{
    Q_OBJECT
public:
    explicit CTTPurchaseManager(QWidget* parent = nullptr);
    ~CTTPurchaseManager() override;

    void RefreshPurchaseList();

private slots:
    void RightMenuQpoint(const QPoint&);
    void MenuChoice(QAction* pAction);
    void OnClicked(bool bChecked);
    void onCalendarClicked(const QDate& date);
    void OnreturnPressed();

private:
    void ShowPurchases(const PurchaseList& purchases);
    static QList<QStandardItem*> PurchaseRow(const PurchaseInfo& purchase);

    std::unique_ptr<Ui::purchasemanager> ui;
    QMenu* contextMenu = nullptr;
    QAction* deleteAction = nullptr;
    int menuRow = -1;
    PagedModel* model = nullptr;
};
