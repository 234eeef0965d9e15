#pragma once

#include <QDialog>
#include <QMap>
#include <QString>

class CTProviderManager : public QDialog
{
    Q_OBJECT
public:
    explicit CTProviderManager(QWidget* parent = nullptr);

};
