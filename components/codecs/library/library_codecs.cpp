#include "codecs/codec_table.h"

#include "codecs/library/bzip2_codec.h"
#include "codecs/library/lzma_codec.h"
#include "codecs/library/xz_codec.h"
#include "codecs/library/zstd_codec.h"

namespace vellum {

namespace {

// Zip method numbers (APPNOTE 4.4.5). Zstandard was given 20 first and 93 later; writers use both.
constexpr std::uint16_t MethodBzip2 = 12;
constexpr std::uint16_t MethodLzma = 14;
constexpr std::uint16_t MethodZstandardOld = 20;
constexpr std::uint16_t MethodZstandard = 93;
constexpr std::uint16_t MethodXz = 95;

template <typename Codec> CodecTable::Factory factoryOf() {
    return [](std::span<std::uint8_t> output) { return std::make_unique<Codec>(output); };
}

} // namespace

void addLibraryCodecs(CodecTable& table) {
    table.add(MethodBzip2, factoryOf<Bzip2Codec>());
    table.add(MethodLzma, factoryOf<LzmaCodec>());
    table.add(MethodZstandardOld, factoryOf<ZstdCodec>());
    table.add(MethodZstandard, factoryOf<ZstdCodec>());
    table.add(MethodXz, factoryOf<XzCodec>());
}

} // namespace vellum
