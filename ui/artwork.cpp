#include "artwork.h"

#include <QPainter>
#include <QPainterPath>

namespace vellum {

namespace {

constexpr int iconSize = 32;

// The standard 16-colour palette, so that every picture stays within it.
const QColor black(0, 0, 0);
const QColor darkBlue(0, 0, 128);
const QColor darkYellow(128, 128, 0);
const QColor white(255, 255, 255);
const QColor yellow(255, 255, 0);
const QColor red(255, 0, 0);
const QColor blue(0, 0, 255);

QPixmap blankPicture()
{
    QPixmap picture(iconSize, iconSize);
    picture.fill(Qt::transparent);
    return picture;
}

// A closed archive: a yellow folder held shut by a zip of dark teeth.
void drawArchive(QPainter& painter, QPoint origin)
{
    painter.setPen(black);
    painter.setBrush(darkYellow);
    painter.drawRect(origin.x() + 2, origin.y() + 8, 26, 19);
    painter.setBrush(yellow);
    painter.drawRect(origin.x() + 2, origin.y() + 11, 26, 16);
    painter.setPen(black);
    for (int y = origin.y() + 12; y < origin.y() + 26; y += 2)
        painter.drawLine(origin.x() + 14, y, origin.x() + 16, y);
}

// A sheet of paper with lines of text.
void drawSheet(QPainter& painter, QRect sheet)
{
    painter.setPen(black);
    painter.setBrush(white);
    painter.drawRect(sheet);
    painter.setPen(darkBlue);
    for (int y = sheet.top() + 3; y < sheet.bottom() - 1; y += 3)
        painter.drawLine(sheet.left() + 2, y, sheet.right() - 2, y);
}

} // namespace

QPixmap applicationIconPixmap()
{
    QPixmap picture = blankPicture();
    QPainter painter(&picture);
    drawArchive(painter, {0, 0});
    // The check mark: the archive has been tested.
    painter.setPen(QPen(red, 3));
    painter.drawLine(6, 17, 11, 23);
    painter.drawLine(11, 23, 26, 4);
    return picture;
}

QIcon applicationIcon()
{
    return QIcon(applicationIconPixmap());
}

std::vector<QPixmap> animationFrames()
{
    // Frame 0: the sheet rests on the archive; frames 1 and 2: it lifts out to either side.
    const QRect sheets[] = {{9, 1, 12, 14}, {4, 0, 12, 13}, {15, 0, 12, 13}};
    std::vector<QPixmap> frames;
    for (const QRect& sheet : sheets) {
        QPixmap frame = blankPicture();
        QPainter painter(&frame);
        drawArchive(painter, {0, 2});
        drawSheet(painter, sheet);
        frames.push_back(frame);
    }
    return frames;
}

QCursor pointingHandCursor()
{
    QPixmap picture = blankPicture();
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing, false);
    QPainterPath hand;
    hand.addRoundedRect(8, 1, 5, 16, 2, 2);   // the pointing finger
    hand.addRoundedRect(8, 13, 17, 14, 3, 3); // the fist
    painter.setPen(black);
    painter.setBrush(white);
    painter.drawPath(hand.simplified());
    painter.drawLine(13, 17, 13, 22);
    painter.drawLine(17, 17, 17, 22);
    painter.drawLine(21, 17, 21, 22);
    return QCursor(picture, 10, 1);
}

QCursor clownCursor()
{
    QPixmap picture = blankPicture();
    QPainter painter(&picture);
    painter.setPen(black);
    painter.setBrush(white);
    painter.drawEllipse(5, 6, 22, 22); // the face
    painter.setBrush(blue);
    painter.drawPolygon(QPolygon({QPoint(9, 8), QPoint(16, 0), QPoint(23, 8)})); // the hat
    painter.setBrush(red);
    painter.drawEllipse(14, 15, 5, 5);        // the nose
    painter.drawArc(10, 16, 13, 8, 200 * 16, 140 * 16); // the smile
    painter.setBrush(black);
    painter.drawEllipse(11, 12, 2, 2);
    painter.drawEllipse(20, 12, 2, 2);
    return QCursor(picture, 16, 16);
}

} // namespace vellum
