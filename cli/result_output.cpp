#include "result_output.h"

#include "escaped_text.h"
#include "fault_json.h"
#include "fault_text.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <optional>

namespace vellum {

namespace {

void writeLine(ResultStream& output, const Json& object) {
    output.writeLine(jsonText(object) + "\n");
}

// The cause of a stop as the JSON summary names it; null for a run that was not stopped.
const char* stopWord(RunStop stop) {
    switch (stop) {
    case RunStop::User:
        return "user";
    case RunStop::Signal:
        return "signal";
    case RunStop::OutputClosed:
        return "output closed";
    case RunStop::TimeLimit:
        return "time limit";
    case RunStop::None:
        break;
    }
    return nullptr;
}

// Whole seconds of a time in nanoseconds, rounded down as the file system's seconds are.
std::int64_t wholeSeconds(std::int64_t nanoseconds) {
    constexpr std::int64_t PerSecond = 1'000'000'000;
    return nanoseconds / PerSecond - (nanoseconds % PerSecond < 0 ? 1 : 0);
}

// The start of an archive's JSON object: its path, and the path's bytes when they are not UTF-8.
Json pathObject(const std::string& path) {
    Json object;
    object["path"] = path;
    if (!isValidUtf8(path))
        object["path_b64"] = base64(path);
    return object;
}

} // namespace

FullVerdict printedVerdict(FullVerdict verdict, bool strict) {
    return strict && verdict == FullVerdict::Unverified ? FullVerdict::Bad : verdict;
}

namespace {

constexpr std::string_view Base64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

std::string base64(std::string_view bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t at = 0; at < bytes.size(); at += 3) {
        const std::size_t left = bytes.size() - at;
        std::uint32_t group = static_cast<std::uint8_t>(bytes[at]) << 16;
        if (left > 1)
            group |= static_cast<std::uint8_t>(bytes[at + 1]) << 8;
        if (left > 2)
            group |= static_cast<std::uint8_t>(bytes[at + 2]);
        text += Base64Alphabet[(group >> 18) & 63];
        text += Base64Alphabet[(group >> 12) & 63];
        text += left > 1 ? Base64Alphabet[(group >> 6) & 63] : '=';
        text += left > 2 ? Base64Alphabet[group & 63] : '=';
    }
    return text;
}

std::optional<std::string> decodedBase64(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::string bytes;
    std::uint32_t group = 0;
    int bits = 0;
    std::size_t padding = 0;
    for (const char letter : text) {
        if (letter == '=' && padding < 2) {
            ++padding;
            continue;
        }
        const std::size_t value = Base64Alphabet.find(letter);
        // Padding only at the end.
        if (value == std::string_view::npos || padding != 0)
            return std::nullopt;
        group = (group << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>((group >> bits) & 0xFF);
        }
    }
    return bytes;
}

bool isValidUtf8(std::string_view bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const auto lead = static_cast<std::uint8_t>(bytes[at]);
        std::size_t length = 0;
        std::uint32_t point = 0;
        if (lead < 0x80) {
            ++at;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            point = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            point = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            point = lead & 0x07;
        } else {
            return false;
        }
        if (bytes.size() - at < length)
            return false;
        for (std::size_t next = 1; next < length; ++next) {
            const auto byte = static_cast<std::uint8_t>(bytes[at + next]);
            if ((byte & 0xC0) != 0x80)
                return false;
            point = (point << 6) | (byte & 0x3F);
        }
        constexpr std::array<std::uint32_t, 5> Smallest{0, 0, 0x80, 0x800, 0x10000};
        if (point < Smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return false;
        at += length;
    }
    return true;
}

std::string isoUtcTime(std::int64_t seconds) {
    const auto time = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&time, &utc);
    std::array<char, 32> text{};
    std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text.data();
}

void ReasonLines::archiveJudged(const ArchiveOutcome& outcome) {
    if (outcome.verdict != FullVerdict::Bad && outcome.verdict != FullVerdict::Unverified)
        return;
    // The reason is the one the archive's own verdict gives: what left it unverified, under --strict too.
    // What its history says of it comes first: an archive that decayed is the worst news there is.
    const std::string change = verdictChangeText(outcome);
    const std::string history = change.empty() ? change : change + ": ";
    const std::string line = platform::escapedText(outcome.path) + ": " +
                             verdictWord(printedVerdict(outcome.verdict, m_strict)) + ": " + history +
                             verdictReason(outcome.path, outcome.verdict, outcome.faults) + "\n";
    m_output.writeLine(line);
}

void ReasonLines::archiveVanished(const std::string& path) {
    m_output.writeLine(platform::escapedText(path) + ": vanished\n");
}

void ReasonLines::archiveMissing(const std::string& path) {
    m_output.writeLine(platform::escapedText(path) +
                       ": missing: the ledger has it, the disk no longer does\n");
}

void DueLines::archiveDue(const std::string& path) {
    if (m_separator == '\n' && path.find('\n') != std::string::npos) {
        ++m_unlisted;
        std::fprintf(stderr, "vellum: %s: the name holds a line break; list with -0\n",
                     platform::escapedText(path).c_str());
        return;
    }
    std::string line = path;
    line += m_separator;
    m_output.writeLine(line);
}

void JsonLines::runStarted() {
    m_start = std::chrono::steady_clock::now();
}

void JsonLines::archiveJudged(const ArchiveOutcome& outcome) {
    const FileIdentity* identity = outcome.identity;
    Json object = pathObject(outcome.path);
    object["size"] = identity ? Json(identity->size) : Json(nullptr);
    object["mtime"] = identity ? Json(isoUtcTime(wholeSeconds(identity->modifiedNs))) : Json(nullptr);
    const FullVerdict verdict = printedVerdict(outcome.verdict, m_strict);
    object["verdict"] = verdictWord(verdict);
    // A strict run keeps in sight which of its bad archives are only unverified.
    if (m_strict)
        object["unverified"] = outcome.verdict == FullVerdict::Unverified;
    object["probe_code"] = outcome.probeCode;
    object["verify_code"] = outcome.verifyCode ? Json(*outcome.verifyCode) : Json(nullptr);
    object.update(faultsAndNotes(outcome.path, outcome.faults));
    if (outcome.previous) {
        Json previous;
        previous["verdict"] = outcome.previous->verdict;
        previous["tested"] = isoUtcTime(outcome.previous->testedAt);
        previous["change"] = outcome.change == VerdictChange::NewlyBad   ? Json("newly bad")
                             : outcome.change == VerdictChange::Replaced ? Json("replaced by a damaged copy")
                                                                         : Json(nullptr);
        previous["ctime_moved"] = outcome.changedSinceTested;
        object["previous"] = std::move(previous);
    }
    // The rest of what another machine's ledger needs to take this verdict in as its own.
    object["tested"] = isoUtcTime(outcome.testedAt);
    object["seconds"] = std::round(outcome.seconds * 1000.0) / 1000.0;
    if (identity) {
        object["mtime_ns"] = identity->modifiedNs;
        object["ctime_ns"] = identity->changedNs;
        object["device"] = identity->device;
        object["inode"] = identity->inode;
    }
    writeLine(m_output, object);

    ++m_tested;
    if (verdict == FullVerdict::Bad)
        ++m_bad;
    if (outcome.verdict == FullVerdict::Unverified)
        ++m_unverified;
    if (identity)
        m_bytes += static_cast<std::uint64_t>(identity->size);
}

void JsonLines::archiveVanished(const std::string& path) {
    Json object = pathObject(path);
    object["verdict"] = "vanished";
    writeLine(m_output, object);
}

void JsonLines::archiveMissing(const std::string& path) {
    Json object = pathObject(path);
    object["verdict"] = "missing";
    writeLine(m_output, object);
}

void JsonLines::unreachable(const Unreachable& what) {
    // Every path the run could not read has a line of its own, so that the results account for it.
    Json object = pathObject(what.path);
    object["verdict"] = "unreadable";
    object["what"] = what.kind == Unreachable::Kind::Folder     ? "folder"
                     : what.kind == Unreachable::Kind::FileList ? "file list"
                                                                : "path";
    object["reason"] = what.reason;
    writeLine(m_output, object);
}

void JsonLines::runEnded(const RunSummary& run) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - m_start;
    Json summary;
    summary["listed"] = run.listed;
    summary["tested"] = m_tested;
    summary["bad"] = m_bad;
    summary["unverified"] = m_unverified;
    summary["bytes"] = m_bytes;
    summary["unreadable"] = run.unreachable;
    summary["vanished"] = run.vanished;
    summary["skipped"] = run.skipped;
    summary["newly_bad"] = run.newlyBad;
    summary["missing"] = run.missing;
    summary["remaining"] = run.remaining;
    summary["links_not_followed"] = run.linksNotFollowed;
    summary["complete"] = run.complete();
    summary["short_of_memory"] = run.memoryShortfalls;
    // Why a run that was stopped is not complete; the counts above tell the other reasons.
    if (const char* stop = stopWord(run.stop))
        summary["stopped"] = stop;
    if (m_strict)
        summary["strict"] = true;
    // Milliseconds are as fine as a wall clock over a run is worth.
    summary["seconds"] = static_cast<double>(static_cast<std::int64_t>(elapsed.count() * 1000.0)) / 1000.0;
    writeLine(m_output, Json{{"summary", std::move(summary)}});
}

} // namespace vellum
