#pragma once

// The program's own pictures, drawn in code: the application icon, the button and panel pointers
// and the three frames of the "Files" animation. All are 32 x 32 pixels in 16 colours.

#include <QCursor>
#include <QIcon>
#include <QPixmap>
#include <vector>

namespace vellum {

QPixmap applicationIconPixmap();
QIcon applicationIcon();
std::vector<QPixmap> animationFrames();
QCursor pointingHandCursor();
QCursor clownCursor();

} // namespace vellum
