#pragma once

// Faults put into words for the printed output: a stable name per kind for scripts, a short
// clause that says what is wrong, and the one-line reason of a bad or unverified archive.

#include "zip/zip_faults.h"
#include "zip/zip_result.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellum {

struct ArchiveOutcome;
enum class VerdictChange;

// The word the printed results and the ledger use for a verdict: good, bad or unverified.
const char* verdictWord(FullVerdict verdict);
// What the ledger's history says of a bad archive: "went bad since 2026-12-01 (unchanged on disk)",
// or "replaced by a damaged copy since 2026-12-01"; empty for an archive without such a change.
std::string verdictChangeText(const ArchiveOutcome& outcome);
// The same for a change of verdict from one last tested at `previousTestedAt` (seconds since the epoch).
std::string verdictChangeText(VerdictChange change, std::int64_t previousTestedAt);

// A stable snake_case name for scripts ("crc_mismatch"), as the component's fault table gives it.
std::string faultKindName(ZipFaultKind kind);

// "damage" for a fault that makes the archive bad, "unverifiable" for an entry (or a split set)
// that could not be checked, "note" for a finding that is neither.
std::string_view faultSeverity(ZipFaultKind kind);
bool faultIsUnverifiable(ZipFaultKind kind);

// What is wrong, in a clause that starts in lower case: the component's message, or for a
// mismatch with known values, the values ("CRC-32 is 0x1a2b3c4d, the central header says
// 0x5e6f7081", "needs 1,536 MiB of decoder memory, 900 MiB could be had"), or how many entries the
// directory lost ("2 entries are not in the central directory"). A damaged structure and a read
// error add their offset ("at offset 1234"); data faults and notes do not, as the entry's name says
// where they are. A missing part of a split set is named after the archive at archivePath
// ("incomplete split set: NAME.z02 missing").
std::string faultDescription(std::string_view archivePath, const ZipFault& fault);

// An entry's want of decoder memory in words, in mebibytes with grouped thousands: "needs 1,536 MiB
// of decoder memory, 900 MiB could be had".
std::string memoryShortfallText(std::uint64_t needed, std::uint64_t obtainable);

// The first fault of an entry whose decoder could not have the memory it needs; null when none.
const ZipFault* memoryShortfallIn(const std::vector<ZipFault>& faults);

// The description with the entry in front when the fault concerns one: entry "docs/a.txt": ...
// The name is written as the reports write paths, so that it cannot break the line.
std::string faultSentence(std::string_view archivePath, const ZipFault& fault);

// Why the archive got its verdict: the first fault that made it bad (or, for an unverified one,
// the first entry that could not be checked), with "and N more" when others of the same sort
// follow. Empty for a good archive.
std::string verdictReason(std::string_view archivePath, FullVerdict verdict,
                          const std::vector<ZipFault>& faults);

} // namespace vellum
