#pragma once

// The progress bar, reachable by dispatch ID like the other outside controls: Position (ID 5) reads
// as a 32-bit integer and takes a 16-bit one. A position outside 0..100 is kept and read back as
// given; the bar shows it clamped.

#include "dispatch.h"

#include <QProgressBar>

namespace vellum {

class ProgressBarControl final : public QProgressBar, public Dispatch {
public:
    explicit ProgressBarControl(QWidget* parent = nullptr);

    std::int32_t position() const { return m_position; }
    void setPosition(std::int32_t position);

    std::optional<DispatchValue> invoke(std::int32_t dispatchId, DispatchKind kind,
                                        std::span<const DispatchValue> arguments) override;

private:
    std::int32_t m_position = 0;
};

} // namespace vellum
