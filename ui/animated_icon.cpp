#include "animated_icon.h"

#include "artwork.h"

#include <QEvent>
#include <QPainter>
#include <array>

namespace vellum {

namespace {
constexpr std::array<int, 6> frameSequence = {0, 1, 0, 2, 0, 1};
constexpr int stepMilliseconds = 50;
} // namespace

AnimatedIcon::AnimatedIcon(QWidget* parent) : QWidget(parent), m_frames(animationFrames()) {
    m_timer.setInterval(stepMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, [this] { advance(); });
    showCurrentFrame();
    m_timer.start();
}

int AnimatedIcon::currentFrame() const {
    return frameSequence[m_step];
}

void AnimatedIcon::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::EnabledChange)
        return;
    if (isEnabled())
        m_timer.start();
    else
        m_timer.stop();
}

void AnimatedIcon::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_frames[static_cast<std::size_t>(currentFrame())]);
}

void AnimatedIcon::advance() {
    m_step = (m_step + 1) % frameSequence.size();
    showCurrentFrame();
}

void AnimatedIcon::showCurrentFrame() {
    update();
}

} // namespace vellum
