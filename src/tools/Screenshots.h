#pragma once

#include <QString>

namespace qis::ui {

// Takes the wizard through its pages with the image and writes a picture
// of each page, in a realistic state, into `folder` (1-image.png, …).
// Message boxes are answered silently. Returns the number of pictures
// written.
int renderScreenshots(const QString& folder, const QString& image);

} // namespace qis::ui
