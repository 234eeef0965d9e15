#pragma once

#include <QDialog>
#include <QMap>
#include <QString>

class CTTPurchaseManager : public QDialog
{
    Q_OBJECT
public:
    explicit CTTPurchaseManager(QWidget* parent = nullptr);
    void RefreshPurchaseList();
};
