#pragma once

// A caption on a sunken or raised 3D panel that answers a click.

#include <QLabel>

namespace vellum {

class Panel3D final : public QLabel {
    Q_OBJECT
public:
    enum class Bevel { Sunken, Raised };
    explicit Panel3D(Bevel bevel, QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

} // namespace vellum
