#pragma once

#include <QDialog>
#include <QMap>
#include <QString>

class CTOrderManager : public QDialog
{
    Q_OBJECT
public:
    explicit CTOrderManager(QWidget* parent = nullptr);
    void ReloadOrders();
};
