#include "panel3d.h"

#include <QMouseEvent>
#include <QPainter>

namespace vellum {

Panel3D::Panel3D(Bevel bevel, QWidget* parent) : QLabel(parent) {
    setFrameStyle(QFrame::Panel | (bevel == Bevel::Sunken ? QFrame::Sunken : QFrame::Raised));
    setLineWidth(1);
    setAutoFillBackground(true);
    setTextFormat(Qt::PlainText);
}

void Panel3D::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

} // namespace vellum

namespace vellum {

void Panel3D::paintEvent(QPaintEvent* event) {
    if (!m_engraved) {
        QLabel::paintEvent(event);
        return;
    }
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setFont(font());
    const QRect area = contentsRect();
    painter.setPen(palette().color(QPalette::Light));
    painter.drawText(area.translated(1, 1), static_cast<int>(alignment()), text());
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawText(area, static_cast<int>(alignment()), text());
}

} // namespace vellum
