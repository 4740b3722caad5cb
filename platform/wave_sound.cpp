#include "wave_sound.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>
#include <string_view>

namespace vellum::platform {

namespace {

// A sound effect file is small; anything larger is refused rather than read into memory.
constexpr std::size_t largestFile = 64u * 1024u * 1024u;

std::uint16_t readUint16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::uint32_t readUint32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[at + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

bool hasTag(std::span<const std::uint8_t> bytes, std::size_t at, std::string_view tag) {
    for (std::size_t index = 0; index < tag.size(); ++index) {
        if (bytes[at + index] != static_cast<std::uint8_t>(tag[index]))
            return false;
    }
    return true;
}

constexpr std::uint16_t formatPcm = 1;
constexpr std::uint16_t formatExtensible = 0xFFFE;

// Fills the format fields from a "fmt " chunk body; false when the encoding is not one we play.
bool readFormat(std::span<const std::uint8_t> body, WaveSound& sound) {
    if (body.size() < 16)
        return false;
    std::uint16_t format = readUint16(body, 0);
    // The extensible form names the real encoding in the first two bytes of its sub-format.
    if (format == formatExtensible && body.size() >= 26)
        format = readUint16(body, 24);
    sound.channels = readUint16(body, 2);
    sound.sampleRate = readUint32(body, 4);
    sound.bitsPerSample = readUint16(body, 14);
    return format == formatPcm && (sound.channels == 1 || sound.channels == 2) &&
           (sound.bitsPerSample == 8 || sound.bitsPerSample == 16) && sound.sampleRate >= 1000 &&
           sound.sampleRate <= 384000;
}

} // namespace

std::optional<WaveSound> parseWave(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 12 || !hasTag(bytes, 0, "RIFF") || !hasTag(bytes, 8, "WAVE"))
        return std::nullopt;
    WaveSound sound;
    bool formatSeen = false;
    std::size_t at = 12;
    while (bytes.size() - at >= 8) {
        const std::uint32_t declaredSize = readUint32(bytes, at + 4);
        const std::size_t bodyAt = at + 8;
        const std::size_t available = bytes.size() - bodyAt;
        if (hasTag(bytes, at, "fmt ")) {
            if (declaredSize > available || !readFormat(bytes.subspan(bodyAt, declaredSize), sound))
                return std::nullopt;
            formatSeen = true;
        } else if (hasTag(bytes, at, "data")) {
            // The format must come first; a file that puts it later is too unusual to guess at.
            if (!formatSeen)
                return std::nullopt;
            const std::size_t size = std::min<std::size_t>(declaredSize, available);
            const std::size_t wholeFrames = size - size % sound.bytesPerFrame();
            if (wholeFrames == 0)
                return std::nullopt;
            const auto samples = bytes.subspan(bodyAt, wholeFrames);
            sound.samples.assign(samples.begin(), samples.end());
            return sound;
        }
        // Chunks are padded to an even length; stop rather than overflow on absurd sizes.
        const std::size_t paddedSize = std::size_t{declaredSize} + (declaredSize & 1u);
        if (paddedSize > available)
            return std::nullopt;
        at = bodyAt + paddedSize;
    }
    return std::nullopt;
}

std::optional<WaveSound> loadWaveFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return std::nullopt;
    std::vector<std::uint8_t> bytes;
    std::uint8_t block[65536];
    bool tooLarge = false;
    for (;;) {
        const std::size_t count = std::fread(block, 1, sizeof block, file);
        bytes.insert(bytes.end(), block, block + count);
        if (bytes.size() > largestFile) {
            tooLarge = true;
            break;
        }
        if (count < sizeof block)
            break;
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed || tooLarge)
        return std::nullopt;
    return parseWave(bytes);
}

std::chrono::milliseconds waveDuration(const std::string& path) {
    using std::chrono::milliseconds;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file || std::fseek(file.get(), 0, SEEK_END) != 0)
        return milliseconds{0};
    const long fileSize = std::ftell(file.get());
    std::uint8_t riffHeader[12];
    if (fileSize < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0 ||
        std::fread(riffHeader, 1, sizeof riffHeader, file.get()) != sizeof riffHeader ||
        !hasTag(riffHeader, 0, "RIFF") || !hasTag(riffHeader, 8, "WAVE"))
        return milliseconds{0};

    std::uint32_t byteRate = 0;
    std::uint8_t chunkHeader[8];
    while (std::fread(chunkHeader, 1, sizeof chunkHeader, file.get()) == sizeof chunkHeader) {
        const std::uint32_t declaredSize = readUint32(chunkHeader, 4);
        long skip = static_cast<long>(declaredSize) + static_cast<long>(declaredSize & 1u);
        if (hasTag(chunkHeader, 0, "fmt ")) {
            std::uint8_t format[16];
            if (declaredSize < sizeof format ||
                std::fread(format, 1, sizeof format, file.get()) != sizeof format)
                return milliseconds{0};
            byteRate = readUint32(format, 8);
            skip -= static_cast<long>(sizeof format);
        } else if (hasTag(chunkHeader, 0, "data")) {
            if (byteRate == 0)
                return milliseconds{0};
            // A recording stopped early claims more than it holds; only what is there is played.
            const long held = fileSize - std::ftell(file.get());
            const auto bytes =
                std::min<std::uint64_t>(declaredSize, static_cast<std::uint64_t>(std::max(held, 0L)));
            return milliseconds{static_cast<milliseconds::rep>(bytes * 1000u / byteRate)};
        }
        if (std::fseek(file.get(), skip, SEEK_CUR) != 0)
            return milliseconds{0};
    }
    return milliseconds{0};
}

WaveSound bellSound() {
    constexpr std::uint32_t rate = 22050;
    constexpr double frequency = 880.0;
    constexpr double duration = 0.15;
    constexpr double attack = 0.005;
    constexpr double amplitude = 0.4 * 32767.0;
    WaveSound sound;
    sound.sampleRate = rate;
    sound.channels = 1;
    sound.bitsPerSample = 16;
    const auto frames = static_cast<std::size_t>(duration * rate);
    sound.samples.resize(frames * 2);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const double time = static_cast<double>(frame) / rate;
        // A quick rise avoids a click at the start; the exponential decay makes it ring like a bell
        // and ends near silence, so the cut at the end is not heard either.
        const double envelope = std::min(1.0, time / attack) * std::exp(-time * 25.0);
        const double value = amplitude * envelope * std::sin(2.0 * std::numbers::pi * frequency * time);
        const auto sample = static_cast<std::int16_t>(std::lround(value));
        const auto bits = static_cast<std::uint16_t>(sample);
        sound.samples[frame * 2] = static_cast<std::uint8_t>(bits & 0xFFu);
        sound.samples[frame * 2 + 1] = static_cast<std::uint8_t>(bits >> 8);
    }
    return sound;
}

} // namespace vellum::platform
