#include "late_bound.h"

#include <vector>

namespace vellum {

namespace {

DispatchValue invokeOrFail(Dispatch& control, std::int32_t dispatchId, DispatchKind kind,
                           std::initializer_list<DispatchValue> arguments) {
    const std::vector<DispatchValue> argumentList(arguments);
    auto result = control.invoke(dispatchId, kind, argumentList);
    if (!result)
        throw ControlCallFailure("control refused dispatch ID " + std::to_string(dispatchId));
    return std::move(*result);
}

[[noreturn]] void wrongType(std::int32_t dispatchId) {
    throw ControlCallFailure("unexpected result type from dispatch ID " + std::to_string(dispatchId));
}

} // namespace

void putProperty(Dispatch& control, std::int32_t dispatchId, DispatchValue value) {
    invokeOrFail(control, dispatchId, DispatchKind::PropertyPut, {std::move(value)});
}

bool getBoolean(Dispatch& control, std::int32_t dispatchId) {
    const DispatchValue value = invokeOrFail(control, dispatchId, DispatchKind::PropertyGet, {});
    if (const bool* flag = std::get_if<bool>(&value))
        return *flag;
    wrongType(dispatchId);
}

std::int32_t getInteger(Dispatch& control, std::int32_t dispatchId) {
    const DispatchValue value = invokeOrFail(control, dispatchId, DispatchKind::PropertyGet, {});
    if (const auto* small = std::get_if<std::int16_t>(&value))
        return *small;
    if (const auto* large = std::get_if<std::int32_t>(&value))
        return *large;
    wrongType(dispatchId);
}

std::string getText(Dispatch& control, std::int32_t dispatchId) {
    DispatchValue value = invokeOrFail(control, dispatchId, DispatchKind::PropertyGet, {});
    if (auto* text = std::get_if<std::string>(&value))
        return std::move(*text);
    wrongType(dispatchId);
}

std::int16_t callForInteger16(Dispatch& control, std::int32_t dispatchId,
                              std::initializer_list<DispatchValue> arguments) {
    const DispatchValue value = invokeOrFail(control, dispatchId, DispatchKind::Method, arguments);
    if (const auto* result = std::get_if<std::int16_t>(&value))
        return *result;
    wrongType(dispatchId);
}

bool callForBoolean(Dispatch& control, std::int32_t dispatchId) {
    const DispatchValue value = invokeOrFail(control, dispatchId, DispatchKind::Method, {});
    if (const bool* flag = std::get_if<bool>(&value))
        return *flag;
    if (const auto* number = std::get_if<std::int16_t>(&value))
        return *number != 0;
    wrongType(dispatchId);
}

} // namespace vellum
