#pragma once

// The decoders this component has, by zip method number. A method missing here is not damage:
// its entries are reported as unverifiable. A decoder is created the first time an entry needs
// it and then reused for every later entry, so an archive of stored and deflated entries never
// pays for the state of the rarer methods. New methods are added as one codec and one row.

#include "codecs/zip_codec.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace vellum {

class CodecTable {
public:
    // Makes a codec that decodes into the shared output buffer it is given.
    using Factory = std::function<std::unique_ptr<ZipCodec>(std::span<std::uint8_t> outputBuffer)>;

    explicit CodecTable(std::span<std::uint8_t> outputBuffer);
    ~CodecTable();

    // The codec for method, or nullptr when there is none.
    ZipCodec* find(std::uint16_t method);

    void add(std::uint16_t method, Factory factory);

private:
    struct Row {
        std::uint16_t method;
        Factory factory;
        std::unique_ptr<ZipCodec> codec;
    };

    std::span<std::uint8_t> m_output;
    std::vector<Row> m_rows;
};

// The rows of the decoders built on packaged libraries (bzip2, LZMA, xz, Zstandard), and the rows
// of the decoders written here (Shrink, Reduce, Implode, Deflate64, PPMd).
void addLibraryCodecs(CodecTable& table);
void addOwnCodecs(CodecTable& table);

} // namespace vellum
