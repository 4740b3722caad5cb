#include "fault_text.h"

#include "base/split_part_name.h"
#include "escaped_text.h"
#include "run_observer.h"

#include <array>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include <ctime>
#include <sys/stat.h>

namespace vellum {

std::string verdictChangeText(const ArchiveOutcome& outcome) {
    if (outcome.previous == nullptr)
        return {};
    return verdictChangeText(outcome.change, outcome.previous->testedAt);
}

std::string verdictChangeText(VerdictChange change, std::int64_t previousTestedAt) {
    if (change == VerdictChange::None)
        return {};
    const auto tested = static_cast<std::time_t>(previousTestedAt);
    std::tm local{};
    localtime_r(&tested, &local);
    std::array<char, 16> date{};
    std::strftime(date.data(), date.size(), "%Y-%m-%d", &local);
    return change == VerdictChange::NewlyBad
               ? std::string("went bad since ") + date.data() + " (unchanged on disk)"
               : std::string("replaced by a damaged copy since ") + date.data();
}

const char* verdictWord(FullVerdict verdict) {
    switch (verdict) {
    case FullVerdict::Good:
        return "good";
    case FullVerdict::Unverified:
        return "unverified";
    case FullVerdict::Bad:
        return "bad";
    case FullVerdict::Aborted:
        break;
    }
    return "aborted";
}

std::string faultKindName(ZipFaultKind kind) {
    return std::string(zipFaultName(kind));
}

bool faultIsUnverifiable(ZipFaultKind kind) {
    return zipVerifyCode(kind) == ZipResult::VerifiedWithUnverifiableEntries;
}

std::string_view faultSeverity(ZipFaultKind kind) {
    if (!zipFaultIsNote(kind))
        return "damage";
    return faultIsUnverifiable(kind) ? "unverifiable" : "note";
}

namespace {

// The component's sentence as a clause: no final full stop, and a lower-case start unless the
// first word is an abbreviation ("CRC-32 ...").
std::string clauseOf(std::string_view sentence) {
    std::string clause(sentence);
    if (clause.ends_with('.'))
        clause.pop_back();
    if (clause.size() > 1 && std::isupper(static_cast<unsigned char>(clause[0])) &&
        !std::isupper(static_cast<unsigned char>(clause[1])))
        clause[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(clause[0])));
    return clause;
}

std::string formatted(const char* format, std::uint64_t first, std::uint64_t second) {
    std::array<char, 128> text{};
    std::snprintf(text.data(), text.size(), format, first, second);
    return text.data();
}

// A count of mebibytes with its thousands grouped by commas: "1,536".
std::string groupedMebibytes(std::uint64_t mebibytes) {
    const std::string digits = std::to_string(mebibytes);
    std::string grouped;
    for (std::size_t at = 0; at < digits.size(); ++at) {
        if (at > 0 && (digits.size() - at) % 3 == 0)
            grouped += ',';
        grouped += digits[at];
    }
    return grouped;
}

} // namespace

std::string memoryShortfallText(std::uint64_t needed, std::uint64_t obtainable) {
    constexpr std::uint64_t Mebibyte = std::uint64_t{1} << 20;
    // The need rounded up and the room rounded down, so that the two never look alike.
    const std::uint64_t neededMebibytes = needed / Mebibyte + (needed % Mebibyte != 0 ? 1 : 0);
    return "needs " + groupedMebibytes(neededMebibytes) + " MiB of decoder memory, " +
           groupedMebibytes(obtainable / Mebibyte) + " MiB could be had";
}

namespace {

std::string fileTypeText(unsigned type) {
    switch (type) {
    case S_IFDIR:
        return "a folder";
    case S_IFIFO:
        return "a FIFO";
    case S_IFSOCK:
        return "a socket";
    case S_IFCHR:
        return "a character device";
    case S_IFBLK:
        return "a block device";
    default:
        return "not a file that can be read as an archive";
    }
}

} // namespace

std::string faultDescription(std::string_view archivePath, const ZipFault& fault) {
    if (fault.kind == ZipFaultKind::SplitPartMissing)
        return "incomplete split set: " + platform::escapedText(splitPartName(archivePath, fault.splitPart)) +
               " missing";
    if (fault.kind == ZipFaultKind::CannotOpen && fault.found)
        return "not a regular file: it is " + fileTypeText(static_cast<unsigned>(*fault.found));
    if (fault.kind == ZipFaultKind::CannotOpen && fault.expected)
        return "the file cannot be opened: " + std::string(std::strerror(static_cast<int>(*fault.expected)));
    if (fault.kind == ZipFaultKind::EndRecordMissing && fault.found)
        return "the archive is cut short: it has local headers but no end of central directory record";
    if (fault.kind == ZipFaultKind::EntriesNotInDirectory && fault.found)
        return *fault.found == 1 ? std::string("1 entry is not in the central directory")
                                 : std::to_string(*fault.found) + " entries are not in the central directory";
    if (fault.found && fault.expected) {
        if (fault.kind == ZipFaultKind::CrcMismatch)
            return formatted("CRC-32 is 0x%08" PRIx64 ", the central header says 0x%08" PRIx64, *fault.found,
                             *fault.expected);
        if (fault.kind == ZipFaultKind::SizeMismatch)
            return formatted("%" PRIu64 " bytes decompressed, the central header says %" PRIu64, *fault.found,
                             *fault.expected);
        if (fault.kind == ZipFaultKind::DecoderMemoryUnavailable)
            return memoryShortfallText(*fault.found, *fault.expected);
    }
    std::string description = clauseOf(zipFaultMessage(fault.kind));
    // The offset helps with a damaged structure (where a record went wrong) and a read error; a
    // missing end record, an entry's data or a note is said well enough without it.
    const std::int16_t code = zipProbeCode(fault.kind);
    const bool structural = code >= ZipResult::CannotRead && code <= ZipResult::ImplausibleRatio &&
                            code != ZipResult::NotAnArchive;
    if (structural && fault.offset > 0)
        description += " at offset " + std::to_string(fault.offset);
    return description;
}

const ZipFault* memoryShortfallIn(const std::vector<ZipFault>& faults) {
    for (const ZipFault& fault : faults) {
        if (fault.kind == ZipFaultKind::DecoderMemoryUnavailable)
            return &fault;
    }
    return nullptr;
}

std::string faultSentence(std::string_view archivePath, const ZipFault& fault) {
    if (!fault.isEntryFault())
        return faultDescription(archivePath, fault);
    const std::string entry = fault.entryName.empty()
                                  ? "the entry at index " + std::to_string(fault.entryIndex)
                                  : "entry \"" + platform::escapedText(fault.entryName) + "\"";
    return entry + ": " + faultDescription(archivePath, fault);
}

std::string verdictReason(std::string_view archivePath, FullVerdict verdict,
                          const std::vector<ZipFault>& faults) {
    if (verdict != FullVerdict::Bad && verdict != FullVerdict::Unverified)
        return {};
    const auto counts = [verdict](const ZipFault& fault) {
        return verdict == FullVerdict::Bad ? !zipFaultIsNote(fault.kind) : faultIsUnverifiable(fault.kind);
    };
    const ZipFault* first = nullptr;
    std::size_t others = 0;
    for (const ZipFault& fault : faults) {
        if (!counts(fault))
            continue;
        if (first)
            ++others;
        else
            first = &fault;
    }
    if (!first)
        return verdict == FullVerdict::Bad ? "the archive could not be tested"
                                           : "some entries could not be checked";
    std::string reason = faultSentence(archivePath, *first);
    if (others > 0)
        reason += ", and " + std::to_string(others) + " more";
    return reason;
}

} // namespace vellum
