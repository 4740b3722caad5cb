#include "codec_table.h"

#include "implode_codec.h"
#include "reduce_codec.h"
#include "shrink_codec.h"

namespace vellum {

void addLegacyCodecs(CodecTable& table) {
    table.add(1, [](std::span<std::uint8_t> output) { return std::make_unique<ShrinkCodec>(output); });
    // Reduce with factors 1 to 4 shares one decoder, which takes the factor from the method.
    for (std::uint16_t method = 2; method <= 5; ++method)
        table.add(method,
                  [](std::span<std::uint8_t> output) { return std::make_unique<ReduceCodec>(output); });
    table.add(6, [](std::span<std::uint8_t> output) { return std::make_unique<ImplodeCodec>(output); });
    // Method 98 (PPMd, ppmd_codec.h) stays out of the table until its model reproduces 7-Zip's
    // streams symbol for symbol: a wrong model would call good archives damaged, while a missing
    // decoder only leaves their entries unverifiable.
}

} // namespace vellum
