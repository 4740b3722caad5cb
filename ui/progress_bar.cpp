#include "progress_bar.h"

#include <algorithm>

namespace vellum {

ProgressBarControl::ProgressBarControl(QWidget* parent) : QProgressBar(parent) {
    setRange(0, 100);
    setValue(0);
    setTextVisible(false);
}

void ProgressBarControl::setPosition(std::int32_t position) {
    m_position = position;
    setValue(std::clamp(position, minimum(), maximum()));
}

} // namespace vellum
