// The till's receipts: printed after each paid sale, again from the order
// history, and the cash drawer, through the printer of plconfig.ini.
#pragma once

#include "app/AppContext.h"
#include "receipt/PrintQueue.h"
#include "store/Records.h"

#include <QObject>
#include <QVector>

class ReceiptPrinter : public QObject
{
    Q_OBJECT
public:
    explicit ReceiptPrinter(const PrinterSettings& settings, QObject* parent = nullptr);

    const PrinterSettings& Settings() const { return settings; }
    void SetSettings(const PrinterSettings& changed) { settings = changed; }
    bool HasPrinter() const { return !settings.connection.isEmpty(); }

public slots:
    // After a sale is stored: its receipt and the drawer, as the settings ask.
    void PrintSale(const OrderInfo& order, const OrderDetailList& lines);
    // The stored order again, marked as a reprint.
    void Reprint(const QString& orderGuid);
    void OpenDrawer();

signals:
    // Each job's end: reason is empty when the printer took it.
    void Finished(const QString& reason);

private:
    void Send(const QByteArray& job);

    PrinterSettings settings;
    PrintQueue queue;
};
