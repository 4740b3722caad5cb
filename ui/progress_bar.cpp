#include "progress_bar.h"

#include "control_ids.h"

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

std::optional<DispatchValue> ProgressBarControl::invoke(std::int32_t dispatchId, DispatchKind kind,
                                                        std::span<const DispatchValue> arguments) {
    if (dispatchId != ProgressBarDispatchId::Position)
        return std::nullopt;
    if (kind == DispatchKind::PropertyGet && arguments.empty())
        return DispatchValue{m_position};
    if (kind == DispatchKind::PropertyPut && arguments.size() == 1) {
        if (const auto* value = std::get_if<std::int16_t>(&arguments[0])) {
            setPosition(*value);
            return DispatchValue{};
        }
    }
    return std::nullopt;
}

} // namespace vellum
