#pragma once

#include <QDialog>
#include <QMap>
#include <QString>

class CTTodayPurchase : public QDialog
{
    Q_OBJECT
public:
    explicit CTTodayPurchase(QWidget* parent = nullptr);
    void SetProviderMap(QMap<QString, QString> map);
};
