#include "artwork.h"

#include <QString>

// Resources compiled into a static library are only linked in when something refers to them, and
// the reference has to be made from the global namespace.
static void registerPictureResources() {
    Q_INIT_RESOURCE(resources);
}

namespace vellum {

namespace {

// Where the fingertip and the middle of the clown's face lie in their 32 x 32 pictures.
constexpr QPoint handHotSpot(6, 0);
constexpr QPoint clownHotSpot(16, 16);

void ensureResources() {
    static const bool registered = [] {
        registerPictureResources();
        return true;
    }();
    Q_UNUSED(registered);
}

QPixmap resourcePicture(const char* name) {
    ensureResources();
    return QPixmap(QStringLiteral(":/vellum/") + QLatin1String(name));
}

} // namespace

QPixmap applicationIconPixmap() {
    return resourcePicture("vellum.png");
}

QIcon applicationIcon() {
    return QIcon(applicationIconPixmap());
}

std::vector<QPixmap> animationFrames() {
    return {resourcePicture("files-0.png"), resourcePicture("files-1.png"), resourcePicture("files-2.png")};
}

QCursor pointingHandCursor() {
    return QCursor(resourcePicture("hand.png"), handHotSpot.x(), handHotSpot.y());
}

QCursor clownCursor() {
    return QCursor(resourcePicture("clown.png"), clownHotSpot.x(), clownHotSpot.y());
}

QPixmap aboutPicture() {
    return resourcePicture("about.bmp");
}

QIcon aboutIcon() {
    return QIcon(resourcePicture("about-icon.ico"));
}

} // namespace vellum
