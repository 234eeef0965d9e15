#pragma once

#include <QDialog>
#include <QMap>
#include <QString>

class CTStockManager : public QDialog
{
    Q_OBJECT
public:
    explicit CTStockManager(QWidget* parent = nullptr);
    void RefreshStockList();
};
