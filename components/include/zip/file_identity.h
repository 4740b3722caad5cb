#pragma once

// What tells one state of a file from another: the file itself (device and inode) and the size and
// times of its content. Two equal identities mean the same bytes, as far as the file system can
// tell without reading them.

#include <cstdint>
#include <optional>
#include <string>

namespace vellum {

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0; // nanoseconds since the epoch
    std::int64_t changedNs = 0;  // the change time, which also moves with a rename or a new owner

    bool operator==(const FileIdentity&) const = default;
    // Rewritten, replaced or moved in: the content may differ whatever was known of it. The change
    // time alone does not count, as it moves when nothing in the file did.
    bool differsFrom(const FileIdentity& other) const {
        return device != other.device || inode != other.inode || size != other.size ||
               modifiedNs != other.modifiedNs;
    }
};

// The identity of the file at path now, its final link followed; none when it cannot be examined.
std::optional<FileIdentity> fileIdentityOf(const std::string& path);

} // namespace vellum
