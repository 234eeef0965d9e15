// Numbers as typed and shown: count and price validators, the cells held to them, money.
#include "screens/NumberEntry.h"

#include "store/RecordId.h"

#include <QDoubleValidator>
#include <QIntValidator>
#include <QLineEdit>

namespace TableSupport {

namespace {
QLocale SqlNumberLocale()
{
    QLocale locale = QLocale::c();
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}
} // namespace

QValidator* NewStockValidator(QObject* parent)
{
    auto* validator = new QIntValidator(0, 999999999, parent);
    validator->setLocale(SqlNumberLocale());
    return validator;
}

QValidator* NewPriceValidator(QObject* parent)
{
    auto* validator = new QDoubleValidator(0.0, 999999999.0, 2, parent);
    validator->setNotation(QDoubleValidator::StandardNotation);
    validator->setLocale(SqlNumberLocale());
    return validator;
}

QString MoneyText(qint64 cents)
{
    QString text = CentsText(cents);
    while (text.endsWith('0'))
        text.chop(1);
    if (text.endsWith('.'))
        text.chop(1);
    return text;
}

} // namespace TableSupport

namespace {
class WholeEntryValidator : public QValidator
{
public:
    WholeEntryValidator(QValidator* rules, QObject* parent) : QValidator(parent), rules(rules) {}

    State validate(QString& input, int& pos) const override
    {
        const State state = rules->validate(input, pos);
        return state == Invalid ? Intermediate : state;
    }
    void fixup(QString& input) const override { rules->fixup(input); }

private:
    const QValidator* rules;
};
} // namespace

QValidator* TableSupport::NewWholeEntryValidator(QValidator* rules)
{
    auto* wholeEntry = new WholeEntryValidator(rules, rules->parent());
    rules->setParent(wholeEntry);
    return wholeEntry;
}

ValidatingDelegate::ValidatingDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void ValidatingDelegate::SetColumnValidator(int column, ValidatorFactory factory)
{
    factories.insert(column, std::move(factory));
}

QWidget* ValidatingDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                          const QModelIndex& index) const
{
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    auto* lineEdit = qobject_cast<QLineEdit*>(editor);
    const auto factory = factories.find(index.column());
    if (lineEdit && factory != factories.end())
        lineEdit->setValidator(TableSupport::NewWholeEntryValidator((*factory)(lineEdit)));
    return editor;
}

void ValidatingDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                      const QModelIndex& index) const
{
    const auto* lineEdit = qobject_cast<const QLineEdit*>(editor);
    if (lineEdit && !lineEdit->hasAcceptableInput())
        return;
    QStyledItemDelegate::setModelData(editor, model, index);
}
