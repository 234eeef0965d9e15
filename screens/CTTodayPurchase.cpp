#include "screens/CTTodayPurchase.h"

CTTodayPurchase::CTTodayPurchase(QWidget* parent) : QDialog(parent) {}

void CTTodayPurchase::SetProviderMap(QMap<QString, QString>) {}
