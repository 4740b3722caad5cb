#include "panel3d.h"

#include <QMouseEvent>

namespace vellum {

Panel3D::Panel3D(Bevel bevel, QWidget* parent) : QLabel(parent)
{
    setFrameStyle(QFrame::Panel | (bevel == Bevel::Sunken ? QFrame::Sunken : QFrame::Raised));
    setLineWidth(1);
    setAutoFillBackground(true);
    setTextFormat(Qt::PlainText);
}

void Panel3D::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

} // namespace vellum
