// Parts of the style that the checkout draws again and again, drawn once per
// look and copied from then on.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QWidget>

namespace StylePictures {

// Paints box, and what the window shows behind it, from one picture. The
// totals and the barcode field show the box through them, so each scan had
// the window, the tab widget and the box paint themselves under each of them
// anew: a fifth of a scan's time. With its picture the box covers what is
// behind it, so nothing behind it paints at all. The picture is made after
// the box was painted as usual, and made again when its size, place or look
// changes.
void KeepBoxPicture(QWidget* box);

// Draws label's text from a picture of it kept for its exact look: text,
// size, font, palette, and the pixels it was drawn over. The totals' Chinese
// text was shaped and laid out anew on every scan, a tenth of the scan.
void KeepTextPictures(QLabel* label);

// Draws widget's frame (a line edit's, the only kind kept so far) from a
// picture kept for its exact look: size, state, palette. Clearing the barcode
// field after each scan had its anti-aliased rounded frame drawn anew, a
// sixth of a scan's time.
void KeepFramePictures(QLineEdit* field);

// Has both of view's headers draw each section from a picture kept for its
// exact look (size, title, state, position, font, palette), and the row
// numbers measured once each. A table that grows a row at a time has Qt
// repaint and measure every number of its row header on each row (a quarter
// of a scan's time), and its column titles whenever a column widens. The row
// header never narrows. Call before the view gets its model.
void KeepHeaderPictures(QTableView* view);

} // namespace StylePictures
