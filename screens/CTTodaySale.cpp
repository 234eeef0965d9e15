#include "screens/CTTodaySale.h"

CTTodaySale::CTTodaySale(QWidget* parent) : QDialog(parent) {}

void CTTodaySale::FocusBarcodeInput() {}
