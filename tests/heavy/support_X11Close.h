#pragma once

#include <QByteArray>

// Asks a window of another X client to close, as a window manager does when
// the user clicks the window's close button (WM_DELETE_WINDOW). False when
// libX11 or the display cannot be reached.
bool SendCloseRequest(const QByteArray& displayName, unsigned long window);
