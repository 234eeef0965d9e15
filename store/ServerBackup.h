#pragma once

#include "store/StockBackup.h"

// The daily backup of a shop's server: its rows, as one moment of the server
// saw them, written into a Stock.db of the file store's own key and format.
// A till can carry on alone from it, as from any Stock.db, if the server is
// lost. Named, checked and kept like the file store's copies.
class ServerBackup : public StockBackup
{
public:
    // `connection`: the name of the program's open server connection; the
    // copy reads through a connection of its own with the same settings.
    ServerBackup(QString connection, QString key, QString folder);

protected:
    Result Fill(const QString& part) override;

private:
    Result FillFrom(const QString& readName, const QString& writeName, const QString& part);

    QString connection;
    QString key;
};
