#pragma once

#include "store/Records.h"

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QTableWidget;

// Goods taken back against one sale: how many of each of its lines, at most
// what the sale sold less what its earlier returns took back.
class CTReturnDialog : public QDialog
{
    Q_OBJECT
public:
    explicit CTReturnDialog(QString sale, QWidget* parent = nullptr);

    // The order the return is stored as; kept across failed tries, so that
    // a write that did land after all is not stored a second time.
    QString ReturnGuid() const { return returnGuid; }

public slots:
    // Stores the return; the dialog stays open when it was not stored.
    void accept() override;

private:
    void ReadLines();
    ReturnLineList ChosenLines() const;
    qint64 RefundCents() const;
    void ShowRefund();

    const QString sale;
    const QString returnGuid;
    ReturnLineList saleLines;
    QTableWidget* table = nullptr;
    QLabel* refund = nullptr;
    QDialogButtonBox* buttons = nullptr;
};
