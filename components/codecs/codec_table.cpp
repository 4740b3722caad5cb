#include "codecs/codec_table.h"

#include "codecs/deflate_codec.h"
#include "codecs/stored_codec.h"
#include "structure/zip_format.h"

namespace vellum {

CodecTable::CodecTable(std::span<std::uint8_t> outputBuffer) : m_output(outputBuffer) {
    add(zipformat::MethodStored, [](std::span<std::uint8_t>) { return std::make_unique<StoredCodec>(); });
    add(zipformat::MethodDeflated,
        [](std::span<std::uint8_t> output) { return std::make_unique<DeflateCodec>(output); });
    addLibraryCodecs(*this);
    addOwnCodecs(*this);
}

CodecTable::~CodecTable() = default;

void CodecTable::add(std::uint16_t method, Factory factory) {
    m_rows.push_back({method, std::move(factory), nullptr});
}

ZipCodec* CodecTable::find(std::uint16_t method) {
    for (Row& row : m_rows) {
        if (row.method != method)
            continue;
        if (!row.codec)
            row.codec = row.factory(m_output);
        return row.codec.get();
    }
    return nullptr;
}

} // namespace vellum
