#include "codecs/codec_table.h"

#include "codecs/own/deflate64_codec.h"
#include "codecs/own/implode_codec.h"
#include "codecs/own/ppmd_codec.h"
#include "codecs/own/reduce_codec.h"
#include "codecs/own/shrink_codec.h"

namespace vellum {

void addOwnCodecs(CodecTable& table) {
    table.add(1, [](std::span<std::uint8_t> output) { return std::make_unique<ShrinkCodec>(output); });
    // Reduce with factors 1 to 4 shares one decoder, which takes the factor from the method.
    for (std::uint16_t method = 2; method <= 5; ++method)
        table.add(method,
                  [](std::span<std::uint8_t> output) { return std::make_unique<ReduceCodec>(output); });
    table.add(6, [](std::span<std::uint8_t> output) { return std::make_unique<ImplodeCodec>(output); });
    // Deflate64 (9) is the deflate format with a 64 KiB window and longer matches.
    table.add(9, [](std::span<std::uint8_t> output) { return std::make_unique<Deflate64Codec>(output); });
    // PPMd reproduces the model exactly while it has memory; when a stream made with the cut-off
    // or freeze restoration runs out of it, the entry is reported unverifiable rather than guessed.
    table.add(98, [](std::span<std::uint8_t> output) { return std::make_unique<PpmdCodec>(output); });
}

} // namespace vellum
