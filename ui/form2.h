#pragma once

// The About window: a 352 x 241 pixel picture without a title bar, inside a thin frame, with the
// program's name and version on it. A click on the window, its icon, its title or its version
// closes it; the line at the bottom takes clicks without closing it. It deletes itself on closing.

#include <QWidget>

class QLabel;

namespace vellum {

class Form2 final : public QWidget {
    Q_OBJECT
public:
    explicit Form2(QWidget* parent = nullptr);

    QLabel* Label4 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Image1 = nullptr;

    static constexpr int frameWidth = 3;
    static constexpr QSize clientSize{352, 241};

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Click();
    QPixmap m_picture;
};

} // namespace vellum
