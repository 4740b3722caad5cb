#include "zip_tester.h"

#include "byte_source.h"
#include "zip_engine.h"

#include <new>

namespace vellum {

ZipTester::ZipTester() = default;

ZipTester::~ZipTester() = default;

// The mode argument is part of the control's published interface; callers pass 0 and no other
// mode exists, so it does not change what the probe does.
std::int16_t ZipTester::probeArchive(std::int16_t /*mode*/) {
    return runOperation(Operation::Probe, {}, false);
}

std::int16_t ZipTester::verifyArchive() {
    return runOperation(Operation::Verify, {}, false);
}

std::int16_t ZipTester::probeBytes(std::span<const std::uint8_t> bytes) {
    return runOperation(Operation::Probe, bytes, true);
}

std::int16_t ZipTester::verifyBytes(std::span<const std::uint8_t> bytes) {
    return runOperation(Operation::Verify, bytes, true);
}

std::int16_t ZipTester::runOperation(Operation operation, std::span<const std::uint8_t> memory,
                                     bool fromMemory) {
    // An abort left over from before this operation must not end it.
    abort = false;
    const bool probe = operation == Operation::Probe;
    try {
        m_faults.clear();
        if (!m_engine)
            m_engine = std::make_unique<ZipEngine>();
        ZipEngineSettings settings;
        settings.fileFilter = fileFilter;
        settings.stopAtFirstFault = optionSwitch;
        settings.onYield = &onYield;
        settings.onStatus = &onStatus;
        settings.abortFlag = &abort;
        const ZipOperation kind = probe ? ZipOperation::Probe : ZipOperation::Verify;
        if (fromMemory) {
            MemoryByteSource source(memory);
            return m_engine->run(kind, source, settings, m_faults);
        }
        FileByteSource source;
        if (!source.open(archivePath.empty() ? archiveName : archivePath)) {
            m_faults.push_back(ZipFault{ZipFaultKind::CannotOpen, -1, 0});
            return probe ? ZipResult::CannotOpen : ZipResult::StructureDamaged;
        }
        return m_engine->run(kind, source, settings, m_faults);
    } catch (...) {
        // Out of memory, or an exception from a callback: the archive could not be tested.
        try {
            m_faults.push_back(ZipFault{ZipFaultKind::CannotRead, -1, 0});
        } catch (...) {
        }
        return probe ? ZipResult::CannotRead : ZipResult::StructureDamaged;
    }
}

namespace {

bool isPut(DispatchKind kind, std::span<const DispatchValue> arguments) {
    return kind == DispatchKind::PropertyPut && arguments.size() == 1;
}

bool isGet(DispatchKind kind, std::span<const DispatchValue> arguments) {
    return kind == DispatchKind::PropertyGet && arguments.empty();
}

std::optional<DispatchValue> textProperty(std::string& property, DispatchKind kind,
                                          std::span<const DispatchValue> arguments) {
    if (isGet(kind, arguments))
        return DispatchValue{property};
    if (isPut(kind, arguments)) {
        if (const auto* text = std::get_if<std::string>(&arguments[0])) {
            property = *text;
            return DispatchValue{std::monostate{}};
        }
    }
    return std::nullopt;
}

std::optional<DispatchValue> boolProperty(bool& property, DispatchKind kind,
                                          std::span<const DispatchValue> arguments) {
    if (isGet(kind, arguments))
        return DispatchValue{property};
    if (isPut(kind, arguments)) {
        if (const auto* value = std::get_if<bool>(&arguments[0])) {
            property = *value;
            return DispatchValue{std::monostate{}};
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<DispatchValue> ZipTester::invoke(std::int32_t dispatchId, DispatchKind kind,
                                               std::span<const DispatchValue> arguments) {
    try {
        switch (dispatchId) {
        case ZipDispatchId::Abort:
            return boolProperty(abort, kind, arguments);
        case ZipDispatchId::OptionSwitch:
            return boolProperty(optionSwitch, kind, arguments);
        case ZipDispatchId::WorkFolder:
            return textProperty(workFolder, kind, arguments);
        case ZipDispatchId::ArchiveName:
            return textProperty(archiveName, kind, arguments);
        case ZipDispatchId::FileFilter:
            return textProperty(fileFilter, kind, arguments);
        case ZipDispatchId::ArchivePath:
            return textProperty(archivePath, kind, arguments);
        case ZipDispatchId::ProbeArchive:
            if (kind == DispatchKind::Method && arguments.size() == 1) {
                if (const auto* mode = std::get_if<std::int16_t>(&arguments[0]))
                    return DispatchValue{probeArchive(*mode)};
            }
            return std::nullopt;
        case ZipDispatchId::VerifyArchive:
            if (kind == DispatchKind::Method && arguments.empty())
                return DispatchValue{verifyArchive()};
            return std::nullopt;
        default:
            return std::nullopt;
        }
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace vellum
