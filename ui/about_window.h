#pragma once

// The About window: a 352 x 241 pixel picture without a title bar, inside a thin frame, with the
// program's name and version on it. A click on the window, its icon, its title or its version
// closes it; the line at the bottom takes clicks without closing it. From the keyboard, Escape or
// Return closes it. It deletes itself on closing.

#include <QEventLoopLocker>
#include <QWidget>

class QLabel;

namespace vellum {

class AboutWindow final : public QWidget {
    Q_OBJECT
public:
    // Given an owner, the window stands centred over it and the window manager keeps it with it.
    explicit AboutWindow(QWidget* owner = nullptr);

    // Shows the window and returns once it has been drawn on the display. Mapping and exposing a
    // window take a round trip to the display, so a caller that blocks the thread straight after
    // show() would leave it unmapped or blank. Meanwhile only the window system's own events are
    // handled, never the user's.
    void showDrawn();

    QLabel* footerLabel = nullptr;
    QLabel* versionLabel = nullptr;
    QLabel* titleLabel = nullptr;
    QLabel* iconImage = nullptr;

    static constexpr int frameWidth = 3;
    static constexpr QSize clientSize{352, 241};

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void drawn();

private:
    void closeOnClick();
    QPixmap m_picture;
    bool m_drawn = false;
    // A window with an owner counts for Qt as a secondary one, which would let the program end with
    // the main window while this one is still open; it is a window of its own and keeps it running.
    QEventLoopLocker m_keepsProgramRunning;
};

} // namespace vellum
