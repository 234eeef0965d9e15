#pragma once

#include <QDialog>
#include <QMap>
#include <QString>

class CTTodaySale : public QDialog
{
    Q_OBJECT
public:
    explicit CTTodaySale(QWidget* parent = nullptr);
    void FocusBarcodeInput();
};
