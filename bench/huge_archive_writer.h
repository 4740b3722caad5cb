#pragma once

#include <cstdint>
#include <string>

namespace vellum::bench {

// Writes a zip64 archive holding one deflated entry of `size` bytes of repetitive text, streamed
// through zlib so that neither the data nor the archive is ever held in memory. The text repeats
// with a period of a few kilobytes: it compresses about a hundredfold, which keeps the file on disk
// small while staying below the ratio that no real deflate stream reaches. False on a write failure.
bool writeHugeArchive(const std::string& path, std::uint64_t size);

// Writes an archive of `count` stored entries of 1 to 4 bytes each, named by their number in
// hexadecimal (six digits and more), with the zip64 end records once the count needs them: a
// central directory of about 52 bytes an entry, 520 MB for ten million. Written in two passes over
// the entries, the local headers and then the central directory, without holding either in memory.
// False on a write failure.
bool writeManyEntryArchive(const std::string& path, std::uint64_t count);

} // namespace vellum::bench
