#include "screens/CTStockManager.h"

CTStockManager::CTStockManager(QWidget* parent) : QDialog(parent) {}

void CTStockManager::RefreshStockList() {}
