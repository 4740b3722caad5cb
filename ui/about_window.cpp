#include "about_window.h"

#include "artwork.h"
#include "vellum_version.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace vellum {

namespace {

// A display that never exposes the window (a window manager holding it back) must not hold the
// program up for longer than this.
constexpr std::chrono::milliseconds longestWaitForDisplay{1000};

// Centred over the owner's frame, then moved back inside the screen's free area where it would reach
// beyond it: without a title bar, a window partly off screen could never be dragged into view.
QPoint centredOver(const QWidget& owner, QSize size) {
    const QRect ownerFrame = owner.frameGeometry();
    QPoint topLeft(ownerFrame.x() + (ownerFrame.width() - size.width()) / 2,
                   ownerFrame.y() + (ownerFrame.height() - size.height()) / 2);
    const QScreen* screen = QGuiApplication::screenAt(ownerFrame.center());
    if (screen == nullptr)
        screen = owner.screen();
    if (screen == nullptr)
        return topLeft;
    const QRect available = screen->availableGeometry();
    // Right and bottom edges first, so that the top-left corner stays on a screen too small for it.
    topLeft.setX(std::max(std::min(topLeft.x(), available.right() + 1 - size.width()), available.left()));
    topLeft.setY(std::max(std::min(topLeft.y(), available.bottom() + 1 - size.height()), available.top()));
    return topLeft;
}

QLabel* transparentLabel(QWidget* parent, const char* name, const QString& text, QColor colour,
                         QRect geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setAttribute(Qt::WA_TranslucentBackground);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setGeometry(geometry.translated(AboutWindow::frameWidth, AboutWindow::frameWidth));
    return label;
}

} // namespace

// A dialog for the window manager, so that it is told the owner (a plain window's owner is not
// passed on to X11) and keeps the About window above it.
AboutWindow::AboutWindow(QWidget* owner)
    : QWidget(owner, Qt::Dialog | Qt::FramelessWindowHint), m_picture(aboutPicture()) {
    setObjectName("aboutWindow");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(aboutIcon());
    setFixedSize(clientSize.width() + 2 * frameWidth, clientSize.height() + 2 * frameWidth);

    // In the window's own order of its children.
    footerLabel = transparentLabel(this, "footerLabel", "", Qt::black, {62, 210, 217, 17});
    versionLabel = transparentLabel(this, "versionLabel", "v" VELLUM_VERSION, Qt::white, {118, 35, 41, 15});
    titleLabel = transparentLabel(this, "titleLabel", "Vellum  v1.02", Qt::white, {13, 18, 105, 39});
    QFont titleFont("Chaucer");
    titleFont.setPointSizeF(21.75);
    titleLabel->setFont(titleFont);
    // Like the title it stands for, it breaks between words when it does not fit on one line.
    titleLabel->setWordWrap(true);
    iconImage = new QLabel(this);
    iconImage->setObjectName("iconImage");
    iconImage->setPixmap(applicationIconPixmap());
    iconImage->setGeometry(42 + frameWidth, 107 + frameWidth, 32, 32);

    for (QWidget* closer : {static_cast<QWidget*>(iconImage), static_cast<QWidget*>(titleLabel),
                            static_cast<QWidget*>(versionLabel), static_cast<QWidget*>(footerLabel)})
        closer->installEventFilter(this);

    if (owner != nullptr)
        move(centredOver(*owner, size()));
}

void AboutWindow::showDrawn() {
    show();
    if (m_drawn) {
        repaint();
        return;
    }
    QEventLoop untilDrawn;
    connect(this, &AboutWindow::drawn, &untilDrawn, &QEventLoop::quit);
    QTimer::singleShot(longestWaitForDisplay, &untilDrawn, &QEventLoop::quit);
    untilDrawn.exec(QEventLoop::ExcludeUserInputEvents);
}

void AboutWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // The picture is drawn unscaled from the client area's top-left corner; only what fits shows.
    painter.drawPixmap(frameWidth, frameWidth, m_picture, 0, 0, clientSize.width(), clientSize.height());
    painter.setPen(palette().color(QPalette::Dark));
    for (int ring = 0; ring < frameWidth; ++ring)
        painter.drawRect(rect().adjusted(ring, ring, -ring - 1, -ring - 1));
    painter.end();
    m_drawn = true;
    emit drawn();
}

void AboutWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        closeOnClick();
}

void AboutWindow::keyPressEvent(QKeyEvent* event) {
    // The window has no buttons and no title bar: these keys are how a keyboard closes it.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        close();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

bool AboutWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::MouseButtonRelease ||
        static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
        return QWidget::eventFilter(watched, event);
    // iconImage, titleLabel and versionLabel close the window; the bottom line has no click handler and keeps
    // it open.
    if (watched != footerLabel)
        closeOnClick();
    return true;
}

void AboutWindow::closeOnClick() {
    close();
}

} // namespace vellum
