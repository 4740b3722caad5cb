#pragma once

// The decoders this component has, by zip method number. A method missing here is not damage:
// its entries are reported as unverifiable. New methods are added as one codec and one row.

#include "deflate_codec.h"
#include "stored_codec.h"

#include <array>
#include <cstdint>

namespace vellum {

class CodecTable {
public:
    explicit CodecTable(std::span<std::uint8_t> outputBuffer);

    // The codec for method, or nullptr when there is none.
    ZipCodec* find(std::uint16_t method);

private:
    struct Row {
        std::uint16_t method;
        ZipCodec* codec;
    };

    StoredCodec m_stored;
    DeflateCodec m_deflate;
    std::array<Row, 2> m_rows;
};

} // namespace vellum
