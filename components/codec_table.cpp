#include "codec_table.h"

#include "zip_format.h"

namespace vellum {

CodecTable::CodecTable(std::span<std::uint8_t> outputBuffer)
    : m_deflate(outputBuffer), m_rows{{{zipformat::MethodStored, &m_stored},
                                       {zipformat::MethodDeflated, &m_deflate}}} {}

ZipCodec* CodecTable::find(std::uint16_t method) {
    for (const Row& row : m_rows) {
        if (row.method == method)
            return row.codec;
    }
    return nullptr;
}

} // namespace vellum
