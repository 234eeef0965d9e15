#pragma once

#include <QDialog>
#include <QMap>
#include <QString>

class QStandardItemModel;

namespace Ui {
class purchase;
}

// Books goods in: each booking stores a purchase and raises (or creates) the
// product with that barcode; the table lists the day's bookings.
class CTTodayPurchase : public QDialog
{
    Q_OBJECT
public:
    explicit CTTodayPurchase(QWidget* parent = nullptr);
    ~CTTodayPurchase() override;

    // Shown provider name -> provider_guid; replaces the choice list as a
    // whole but keeps the picked provider while it is still offered.
    void SetProviderMap(QMap<QString, QString> map);

private slots:
    void OnClicked(bool bChecked);
    void OnBarcodeEditFished();
    void OnreturnPressed();

private:
    struct Booking
    {
        QString time;
        QString guid;
        QString providerName;
        QString providerGuid;
        QString bill;
        QString name;
        QString barcode;
        QString num;
        QString oprice;
        QString rprice;
    };

    void LoadTodayPurchases();
    void FillFromStoredProduct();
    QString RefusedInput(const Booking& booking) const;
    static bool Store(const Booking& booking);

    Ui::purchase* ui;
    QMap<QString, QString> providerMap;
    QStandardItemModel* model = nullptr;
};
