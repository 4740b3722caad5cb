#pragma once

// The progress bar the run moves: a position read back as it was set, shown clamped to 0..100.

#include "run_display.h"

#include <QProgressBar>

namespace vellum {

class ProgressBarControl final : public QProgressBar, public ProgressBar {
public:
    explicit ProgressBarControl(QWidget* parent = nullptr);

    std::int32_t position() const override { return m_position; }
    void setPosition(std::int32_t position) override;

private:
    std::int32_t m_position = 0;
};

} // namespace vellum
