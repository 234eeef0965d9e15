#pragma once

#include "ui_todaySale.h"

#include <QAbstractItemDelegate>
#include <QDialog>
#include <QString>

class QStandardItem;
class QStandardItemModel;

// The counter: scanned barcodes become order lines; paying stores the order.
// The open sale lives only in the table until it is paid or cancelled.
class CTTodaySale : public QDialog
{
    Q_OBJECT
public:
    explicit CTTodaySale(QWidget* parent = nullptr);

    void FocusBarcodeInput();

private:
    void RecomputeTotals();
    void ShowTotals(int lineCount, double total);
    bool StoreSale(const QString& orderGuid, const QString& totalText);
    void ClearSale();

private slots:
    void OnreturnPressed();
    void OnCancelClicked(bool bchecked = false);
    void onclicked(bool checked = false);
    void OnitemChanged(QStandardItem* sItem);
    void EditCompleteSlot(QWidget* editor, QAbstractItemDelegate::EndEditHint hint);

private:
    Ui::todaySale ui;
    QStandardItemModel* model = nullptr;
};
