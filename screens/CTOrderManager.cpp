#include "screens/CTOrderManager.h"

CTOrderManager::CTOrderManager(QWidget* parent) : QDialog(parent) {}

void CTOrderManager::ReloadOrders() {}
