#pragma once

// A caption on a sunken or raised 3D panel that answers a click.

#include <QLabel>

namespace vellum {

class Panel3D final : public QLabel {
    Q_OBJECT
public:
    enum class Bevel { Sunken, Raised };
    explicit Panel3D(Bevel bevel, QWidget* parent = nullptr);

    // Text in the panel's own face colour can only be seen cut into the panel: it is then drawn
    // engraved, a light edge below a dark one.
    void setEngraved(bool engraved) {
        m_engraved = engraved;
        update();
    }

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_engraved = false;
};

} // namespace vellum
