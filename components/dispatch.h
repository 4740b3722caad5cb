#pragma once

// Late-bound access to a control: every property and method is reached by its dispatch ID, with the
// argument and result types that a caller may get wrong. A control answers a call it does not know,
// or one whose arguments it cannot take, by refusing it (an empty result); the caller decides what a
// refusal means. Nothing here throws.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>

namespace vellum {

// The value kinds a dispatch call carries: nothing, a Boolean, a 16-bit or 32-bit integer, a text.
using DispatchValue = std::variant<std::monostate, bool, std::int16_t, std::int32_t, std::string>;

enum class DispatchKind { Method, PropertyGet, PropertyPut };

class Dispatch {
public:
    virtual ~Dispatch() = default;

    // Carries out one call. std::nullopt means the control refused it (unknown ID, wrong kind,
    // wrong argument count or type). A property put answers std::monostate when it is accepted.
    virtual std::optional<DispatchValue> invoke(std::int32_t dispatchId, DispatchKind kind,
                                                std::span<const DispatchValue> arguments) = 0;
};

} // namespace vellum
