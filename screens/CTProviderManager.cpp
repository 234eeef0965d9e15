#include "screens/CTProviderManager.h"

CTProviderManager::CTProviderManager(QWidget* parent) : QDialog(parent) {}

