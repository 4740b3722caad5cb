#pragma once

// Decoded sound data from a RIFF WAVE file: interleaved PCM samples as stored in the file,
// unsigned 8-bit or signed 16-bit little-endian, one or two channels.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vellum::platform {

struct WaveSound {
    std::uint32_t sampleRate = 0;
    std::uint16_t channels = 0;
    std::uint16_t bitsPerSample = 0;
    std::vector<std::uint8_t> samples; // Whole frames only.

    std::size_t bytesPerFrame() const { return std::size_t{channels} * (bitsPerSample / 8u); }
    std::size_t frameCount() const { return bytesPerFrame() == 0 ? 0 : samples.size() / bytesPerFrame(); }
};

// Reads the chunks of a WAVE file held in memory. Answers nothing when the data is not PCM with
// 8 or 16 bits and one or two channels, when a header is cut short, or when there is no sample.
// A data chunk that claims more bytes than the file holds is played as far as it goes, since
// recorders that were stopped early leave such files behind.
std::optional<WaveSound> parseWave(std::span<const std::uint8_t> bytes);

// Reads and parses a WAVE file; nothing when it is missing, unreadable, too large or not decodable.
std::optional<WaveSound> loadWaveFile(const std::string& path);

// How long a WAVE file lasts when played: the bytes of its data chunk that the file holds, over the
// byte rate its format chunk declares. Only the headers are read, so it answers for any encoding and
// for files too large to load. Zero when the file is missing or unreadable, when its format chunk
// is missing, short or declares no byte rate, or when it has no data chunk.
std::chrono::milliseconds waveDuration(const std::string& path);

// The default sound: a short 880 Hz bell tone with a soft start and a fading end.
WaveSound bellSound();

} // namespace vellum::platform
