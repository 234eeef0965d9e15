// Parts of the style that the checkout draws again and again, drawn once per
// look and copied from then on.
#pragma once

#include <QLineEdit>
#include <QTableView>

namespace StylePictures {

// Draws widget's frame (a line edit's, the only kind kept so far) from a
// picture kept for its exact look: size, state, palette. Clearing the barcode
// field after each scan had its anti-aliased rounded frame drawn anew, a
// sixth of a scan's time.
void KeepFramePictures(QLineEdit* field);

// Has both of view's headers draw each section from a picture kept for its
// exact look (size, title, state, position, font, palette), and the row
// numbers measured once each. A table that grows a row at a time has Qt
// repaint and measure every number of its row header on each row (a quarter
// of a scan's time), and its column titles whenever a column widens. Call
// before the view gets its model.
void KeepHeaderPictures(QTableView* view);

} // namespace StylePictures
