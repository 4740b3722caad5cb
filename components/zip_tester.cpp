#include "zip_tester.h"

#include "byte_source.h"
#include "lookahead_verdicts.h"
#include "zip_engine.h"

#include <algorithm>
#include <new>
#include <thread>

namespace vellum {

namespace {

// Threads that test announced archives, and that check the entries of one large archive: as many
// as there are processors, within reason; the window's thread mostly waits meanwhile.
unsigned workerThreads() {
    return std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
}

} // namespace

ZipTester::ZipTester() = default;

// Destroying the look-ahead stops its workers and waits for them.
ZipTester::~ZipTester() = default;

void ZipTester::expectArchives(std::vector<std::string> paths) {
    try {
        if (!m_lookahead)
            m_lookahead = std::make_unique<LookaheadVerdicts>(workerThreads());
        m_lookahead->announce(std::move(paths));
    } catch (...) {
        // Without the look-ahead every archive is simply tested in place.
        m_lookahead.reset();
    }
}

void ZipTester::raiseFinalStatus(const ZipStatus& status) {
    if (onStatus)
        onStatus(status);
}

std::optional<std::int16_t> ZipTester::answerFromLookahead(Operation operation, const std::string& path) {
    const bool probe = operation == Operation::Probe;
    std::shared_ptr<const PrecomputedVerdict> verdict = std::move(m_heldVerdict);
    if (!m_lookahead || optionSwitch)
        return std::nullopt;
    if (probe) {
        if (fileFilter != LookaheadProbeFilter)
            return std::nullopt;
        const auto keepWaiting = [this] {
            if (onYield)
                onYield();
            return !abort;
        };
        const LookaheadVerdicts::Outcome outcome = m_lookahead->take(path, keepWaiting, verdict);
        if (outcome == LookaheadVerdicts::Outcome::Aborted)
            return ZipResult::Aborted;
        if (outcome != LookaheadVerdicts::Outcome::Ready)
            return std::nullopt;
    } else if (!verdict || !verdict->verified || !fileFilter.empty() || verdict->path != path) {
        return std::nullopt;
    }
    // A file replaced or rewritten since it was tested ahead is tested again.
    if (fileIdentityOf(path) != verdict->identity)
        return std::nullopt;
    m_faults = probe ? verdict->probeFaults : verdict->verifyFaults;
    raiseFinalStatus(probe ? verdict->probeStatus : verdict->verifyStatus);
    const std::int16_t result = probe ? verdict->probe : verdict->verify;
    if (probe)
        m_heldVerdict = std::move(verdict);
    return result;
}

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
        if (!fromMemory) {
            if (const auto answer =
                    answerFromLookahead(operation, archivePath.empty() ? archiveName : archivePath))
                return *answer;
        } else {
            m_heldVerdict.reset();
        }
        if (!m_engine)
            m_engine = std::make_unique<ZipEngine>();
        ZipEngineSettings settings;
        settings.fileFilter = fileFilter;
        settings.stopAtFirstFault = optionSwitch;
        settings.onYield = &onYield;
        settings.onStatus = &onStatus;
        settings.abortFlag = &abort;
        settings.entryThreads = workerThreads();
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

std::vector<std::string> splitPaths(const std::string& text) {
    std::vector<std::string> paths;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\0', start), text.size());
        if (end > start)
            paths.emplace_back(text, start, end - start);
        start = end + 1;
    }
    return paths;
}

} // namespace

std::optional<DispatchValue> ZipTester::invoke(std::int32_t dispatchId, DispatchKind kind,
                                               std::span<const DispatchValue> arguments) {
    try {
        switch (dispatchId) {
        case ZipDispatchId::Abort: {
            auto answer = boolProperty(abort, kind, arguments);
            // Whatever was announced belongs to the run being stopped.
            if (answer && kind == DispatchKind::PropertyPut && abort && m_lookahead)
                m_lookahead->discard();
            return answer;
        }
        case ZipDispatchId::ExpectedArchives:
            if (isPut(kind, arguments)) {
                if (const auto* text = std::get_if<std::string>(&arguments[0])) {
                    expectArchives(splitPaths(*text));
                    return DispatchValue{std::monostate{}};
                }
            }
            return std::nullopt;
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
