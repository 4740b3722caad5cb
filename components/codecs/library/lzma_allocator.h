#pragma once

// liblzma's allocator over a decoder's DecoderHeap, so that a dictionary beyond the entry's
// allowance is refused before it is taken, and the memory it does take is counted.

#include "base/decoder_memory.h"

#include <lzma.h>

namespace vellum {

inline lzma_allocator lzmaAllocatorFor(DecoderHeap& heap) {
    lzma_allocator allocator{};
    allocator.alloc = [](void* opaque, std::size_t count, std::size_t size) -> void* {
        if (size != 0 && count > SIZE_MAX / size)
            return nullptr;
        return static_cast<DecoderHeap*>(opaque)->allocate(count * size);
    };
    allocator.free = [](void* opaque, void* block) { static_cast<DecoderHeap*>(opaque)->release(block); };
    allocator.opaque = &heap;
    return allocator;
}

} // namespace vellum
