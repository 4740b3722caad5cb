#include "codecs/own/deflate64_codec.h"

namespace vellum {

Deflate64Codec::Deflate64Codec(std::span<std::uint8_t>) {}

bool Deflate64Codec::reset(const CodecEntry&) {
    m_inflater.reset(Deflate64Inflater::Flavor::Deflate64);
    return true;
}

CodecStep Deflate64Codec::decode(std::span<const std::uint8_t> input, std::size_t outputLimit) {
    return m_inflater.inflate(input, outputLimit);
}

} // namespace vellum
