#pragma once

#include <QString>

// `pellory --copy-to-server`, run in the program's folder: every row of the
// Stock.db beside the program goes into the server that plconfig.ini names,
// in one transaction, and only into empty tables. Prints its progress and
// the figures of both sides, and returns the process exit code: 0 when the
// copy is stored and every figure agrees, else 1 with nothing written.
// Stock.db is only read. Needs no display.
int CopyToServer(const QString& dir);
