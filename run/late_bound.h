#pragma once

// Calls on a control by dispatch ID that treat a refusal, or a result of the wrong type, as a
// failure of the caller: they throw ControlCallFailure, which ends the walk of a run.

#include "dispatch.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vellum {

class ControlCallFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void putProperty(Dispatch& control, std::int32_t dispatchId, DispatchValue value);
bool getBoolean(Dispatch& control, std::int32_t dispatchId);
std::int32_t getInteger(Dispatch& control, std::int32_t dispatchId); // a 16- or 32-bit integer
std::string getText(Dispatch& control, std::int32_t dispatchId);
// Calls a method and takes its result as a 16-bit integer.
std::int16_t callForInteger16(Dispatch& control, std::int32_t dispatchId,
                              std::initializer_list<DispatchValue> arguments = {});
// Calls a method and takes its result as a Boolean; a 16-bit integer counts as true when non-zero.
bool callForBoolean(Dispatch& control, std::int32_t dispatchId);

} // namespace vellum
