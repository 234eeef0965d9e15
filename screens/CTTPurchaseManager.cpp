#include "screens/CTTPurchaseManager.h"

CTTPurchaseManager::CTTPurchaseManager(QWidget* parent) : QDialog(parent) {}

void CTTPurchaseManager::RefreshPurchaseList() {}
