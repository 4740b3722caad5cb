#pragma once

// Collects the faults one operation finds and works out its result code. With stopAtFirstFault
// set, the first fault that is damage (not a note) asks the operation to stop.

#include "zip/zip_faults.h"

#include <cstdint>
#include <vector>

namespace vellum {

class FaultLog {
public:
    FaultLog(std::vector<ZipFault>& faults, bool stopAtFirstFault);

    void add(ZipFaultKind kind, std::int64_t entryIndex, std::uint64_t offset);
    // A fault with more than its kind and place: a mismatch's found and expected values.
    void add(ZipFault fault);
    void addArchiveFault(ZipFaultKind kind, std::uint64_t offset) { add(kind, -1, offset); }

    // True once damage has been found and the operation was asked to stop at the first fault.
    bool stopRequested() const { return m_stopRequested; }
    bool hasDamage() const { return m_hasDamage; }
    bool has(ZipFaultKind kind) const;
    // False once a fault was left out of the list, which stops growing at a bound; the result
    // codes take it into account all the same.
    bool keptEveryFault() const { return !m_leftOut; }

    std::int16_t probeCode() const { return m_probeCode; }
    std::int16_t verifyCode() const { return m_verifyCode; }

private:
    std::vector<ZipFault>& m_faults;
    bool m_stopAtFirstFault;
    bool m_stopRequested = false;
    bool m_hasDamage = false;
    std::int16_t m_probeCode = 0;
    std::int16_t m_verifyCode = 0;
    std::uint64_t m_kindsSeen = 0;
    bool m_leftOut = false;
};

} // namespace vellum
