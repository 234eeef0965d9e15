#pragma once

#include "store/Records.h"

#include <QAbstractItemDelegate>
#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>

class QStandardItem;
class QStandardItemModel;
namespace Ui {
class todaySale;
}

// The counter: scanned barcodes become order lines; paying stores the order.
// The open sale lives only in the table until it is paid or cancelled.
class CTTodaySale : public QDialog
{
    Q_OBJECT
public:
    explicit CTTodaySale(QWidget* parent = nullptr);
    ~CTTodaySale() override;

    void FocusBarcodeInput();

signals:
    // A sale was stored, as these rows; the next one can be scanned already.
    void SalePaid(const OrderInfo& order, const OrderDetailList& lines);
    // After each paid sale: the sold products its units left at or below the
    // shop's low-stock level, as a line for the status bar; empty for none.
    void LowStockNoted(const QString& note);

private:
    void RecomputeTotals();
    void ShowTotals(int lineCount, double total);
    bool StoreSale(const OrderInfo& order, const OrderDetailList& lines);
    OrderDetailList SaleLines(const QString& orderGuid, const QString& totalText) const;
    void NoteLowStock(const QStringList& barcodes);
    void ClearSale();

private slots:
    void OnreturnPressed();
    void OnCancelClicked(bool bchecked = false);
    void onclicked(bool checked = false);
    void OnitemChanged(QStandardItem* sItem);
    void EditCompleteSlot(QWidget* editor, QAbstractItemDelegate::EndEditHint hint);

private:
    std::unique_ptr<Ui::todaySale> ui;
    QStandardItemModel* model = nullptr;
    // The open sale's order identifier, made when it is first paid.
    QString saleGuid;
};
