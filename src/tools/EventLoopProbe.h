#pragma once

#include <QString>

namespace qis::ui {

// Drives the wizard on an image as a user would and measures how long the
// page's event loop is kept from running: while the scan page scans the
// volume in `row` (standard, then the advanced mode's whole-volume search
// when the file system has one) and while the folder at `folder` is listed.
// Prints one line per measurement; returns the worst delay in milliseconds,
// or -1 when the wizard did not get that far.
double probeEventLoop(const QString& image, int row, const QString& folder, bool gpt);

} // namespace qis::ui
