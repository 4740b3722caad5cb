#pragma once

// The program's own pictures, loaded from the resources compiled into this library: the
// application icon, the button and panel pointers, the three frames of the "Files" animation
// (all 32 x 32 pixels in 16 colours) and the About window's background picture.

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

// The About window's picture: 800 x 600 pixels in 256 colours, of which the window shows the
// top-left corner.
QPixmap aboutPicture();
// The 16-colour icon the About window shows in its caption.
QIcon aboutIcon();

} // namespace vellum
