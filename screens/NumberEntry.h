// Numbers as typed and shown: count and price validators, the cells held to them, money.
#pragma once

#include <QMap>
#include <QString>
#include <QStyledItemDelegate>
#include <QValidator>
#include <functional>

namespace TableSupport {

// Numbers go into SQL as typed, so every field and cell that takes a stock
// count or a price must accept the same SQL numbers: plain digits and a dot,
// whatever the user's locale says about separators or exponents.
// Stock counts: whole numbers 0 to 999999999.
QValidator* NewStockValidator(QObject* parent);
// Prices: 0 to 999999999.00, at most two decimals.
QValidator* NewPriceValidator(QObject* parent);
// Lets a line edit keep every key typed and judges its entry only as a whole
// (hasAcceptableInput). A line edit drops each refused key on its own, and
// what is left can be a different number: "1.5" for a whole number became 15.
// Takes rules over, and its parent.
QValidator* NewWholeEntryValidator(QValidator* rules);

// An amount of money to the cent as shown and stored: no exponent, trailing
// zeros of the cents dropped ("13703.67", "2.5", "5", "1234567").
QString MoneyText(qint64 cents);

} // namespace TableSupport

// Item delegate whose cells take only what a column's validator allows. An
// entry it refuses, unfinished ("", "-", ".") or not ("1.5" for a whole
// number), is never written back, and never in part: the cell keeps its
// value. Qt commits an open editor without asking the validator when the
// user moves to another cell.
class ValidatingDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using ValidatorFactory = std::function<QValidator*(QObject* parent)>;
    explicit ValidatingDelegate(QObject* parent = nullptr);
    void SetColumnValidator(int column, ValidatorFactory factory);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;

private:
    QMap<int, ValidatorFactory> factories;
};
