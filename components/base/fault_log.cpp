#include "base/fault_log.h"

#include <utility>

namespace vellum {

namespace {

// A badly damaged archive of millions of entries could report a fault for each; beyond this many
// the list stops growing, while the result code still takes every fault into account.
constexpr std::size_t MaximumKeptFaults = 100000;

static_assert(ZipFaultKindCount <= 64, "the kinds-seen mask holds one bit per kind");

} // namespace

FaultLog::FaultLog(std::vector<ZipFault>& faults, bool stopAtFirstFault)
    : m_faults(faults), m_stopAtFirstFault(stopAtFirstFault) {
    m_faults.clear();
}

void FaultLog::add(ZipFaultKind kind, std::int64_t entryIndex, std::uint64_t offset) {
    add(ZipFault{kind, entryIndex, offset});
}

void FaultLog::add(ZipFault fault) {
    const ZipFaultKind kind = fault.kind;
    if (m_faults.size() < MaximumKeptFaults)
        m_faults.push_back(std::move(fault));
    else
        m_leftOut = true;
    m_kindsSeen |= std::uint64_t{1} << static_cast<int>(kind);
    const std::int16_t probe = zipProbeCode(kind);
    if (zipProbeCodeRank(probe) > zipProbeCodeRank(m_probeCode))
        m_probeCode = probe;
    const std::int16_t verify = zipVerifyCode(kind);
    if (zipVerifyCodeRank(verify) > zipVerifyCodeRank(m_verifyCode))
        m_verifyCode = verify;
    if (!zipFaultIsNote(kind)) {
        m_hasDamage = true;
        if (m_stopAtFirstFault)
            m_stopRequested = true;
    }
}

bool FaultLog::has(ZipFaultKind kind) const {
    return (m_kindsSeen >> static_cast<int>(kind)) & 1u;
}

} // namespace vellum
