#pragma once

#include <cstdint>
#include <string>

namespace vellum::bench {

// Writes a zip64 archive holding one deflated entry of `size` bytes of repetitive text, streamed
// through zlib so that neither the data nor the archive is ever held in memory. The text repeats
// with a period of a few kilobytes: it compresses about a hundredfold, which keeps the file on disk
// small while staying below the ratio that no real deflate stream reaches. False on a write failure.
bool writeHugeArchive(const std::string& path, std::uint64_t size);

} // namespace vellum::bench
