#pragma once

#include <QDate>
#include <QString>

// The store's one connection, pointed at one of the benchmark's databases.
enum class Cipher
{
    Encrypted, // the program's own open: its password, key derivation included
    Plain      // the same driver and connection with an empty password
};

// Opens <folder>/Stock.db (creating it when missing) on the program's
// connection, as the program does (encrypted) or with an empty password
// (plain). The first open of the process must be an encrypted one: that is
// the open that sets the connection up.
bool OpenStore(const QString& folder, Cipher cipher);

// Takes the lookup indexes off the open store, leaving it as a build before
// them made it: only the indexes that the primary keys imply.
bool DropIndexes();

// What goes into a data set. Orders and purchases span `years` years that end
// on lastDay; a recipe without them holds providers and products only.
struct Recipe
{
    int providers = 50;
    int products = 5000;
    int purchases = 25000;
    int orders = 365000;
    int orderLines = 1100000;
    int busiestDay = 400;
    int years = 5;
    QDate lastDay;
};

// Fills the open, empty store through its own insert operations, one
// transaction per month. The same recipe always gives the same rows, so an
// encrypted and a plain database filled from it hold the same data.
bool FillStore(const Recipe& recipe);
