#pragma once

// A 32 x 32 icon that plays its frames in a fixed sequence at 50 ms a step while it is enabled.

#include <QTimer>
#include <QWidget>
#include <vector>

namespace vellum {

class AnimatedIcon final : public QWidget {
public:
    explicit AnimatedIcon(QWidget* parent = nullptr);

    // The frame the sequence shows at the current step.
    int currentFrame() const;
    // Moves on to the next step of the sequence, as the timer does every 50 ms while enabled.
    void advance();

protected:
    void changeEvent(QEvent* event) override;
    // Drawn directly, so that a stopped animation keeps its colours instead of the greyed look.
    void paintEvent(QPaintEvent* event) override;

private:
    void showCurrentFrame();

    std::vector<QPixmap> m_frames;
    std::size_t m_step = 0;
    QTimer m_timer;
};

} // namespace vellum
