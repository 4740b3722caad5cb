#pragma once

// Builds RIFF WAVE files in memory for the sound tests, chunk by chunk, so that a test can also
// assemble unusual or broken layouts.

#include <QByteArray>
#include <QFile>

#include <cstdint>

namespace vellum::platform::testing {

inline void appendUint16(QByteArray& bytes, std::uint16_t value) {
    bytes.append(static_cast<char>(value & 0xFF));
    bytes.append(static_cast<char>(value >> 8));
}

inline void appendUint32(QByteArray& bytes, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        bytes.append(static_cast<char>((value >> shift) & 0xFF));
}

// One chunk with its header; odd-sized bodies get the padding byte the format asks for.
inline QByteArray chunk(const char* tag, const QByteArray& body, std::uint32_t declaredSize) {
    QByteArray bytes(tag, 4);
    appendUint32(bytes, declaredSize);
    bytes += body;
    if (body.size() % 2 != 0)
        bytes.append('\0');
    return bytes;
}

inline QByteArray chunk(const char* tag, const QByteArray& body) {
    return chunk(tag, body, static_cast<std::uint32_t>(body.size()));
}

inline QByteArray formatChunk(std::uint16_t format, std::uint16_t channels, std::uint32_t rate,
                              std::uint16_t bits) {
    QByteArray body;
    appendUint16(body, format);
    appendUint16(body, channels);
    appendUint32(body, rate);
    const auto blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    appendUint32(body, rate * blockAlign);
    appendUint16(body, blockAlign);
    appendUint16(body, bits);
    return chunk("fmt ", body);
}

inline QByteArray riff(const QByteArray& chunks) {
    QByteArray bytes("RIFF");
    appendUint32(bytes, static_cast<std::uint32_t>(chunks.size() + 4));
    return bytes + "WAVE" + chunks;
}

// A plain PCM file holding `samples` as its data.
inline QByteArray pcmWave(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                          const QByteArray& samples) {
    return riff(formatChunk(1, channels, rate, bits) + chunk("data", samples));
}

inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace vellum::platform::testing
