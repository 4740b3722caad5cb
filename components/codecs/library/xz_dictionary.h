#pragma once

// The dictionary an xz block's LZMA2 filter is given: the one its header declares, but never more
// than the entry can use. A block's LZMA2 data never reaches back before the block's start, and the
// verifier stops one byte past the entry's declared size, so a larger dictionary would never be
// used; a block claiming 4 GiB over a few bytes so takes a few kilobytes.

#include <lzma.h>

#include <algorithm>
#include <cstdint>

namespace vellum {

inline void limitXzDictionaries(lzma_filter* filters, std::uint64_t entrySize) {
    // liblzma's dictionary is never smaller than this.
    constexpr std::uint32_t SmallestDictionary = 4096;
    for (lzma_filter* filter = filters; filter->id != LZMA_VLI_UNKNOWN; ++filter) {
        if (filter->id != LZMA_FILTER_LZMA2 || !filter->options)
            continue;
        auto* lzma = static_cast<lzma_options_lzma*>(filter->options);
        const std::uint64_t reach = entrySize == UINT64_MAX ? UINT64_MAX : entrySize + 1;
        lzma->dict_size = static_cast<std::uint32_t>(
            std::max<std::uint64_t>(std::min<std::uint64_t>(lzma->dict_size, reach), SmallestDictionary));
    }
}

} // namespace vellum
