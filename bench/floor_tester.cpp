// The least work a tester of many small archives must do, to measure how close the program comes
// to it: the folders are listed once each, then two threads test the archives found. Each archive
// is read whole with one read, its end record, central directory and local headers are found, and
// each entry is inflated with ISA-L's streaming inflate into a 256 KiB buffer, as the program does,
// and its CRC-32 and size compared. Nothing else is checked, and only what make_bench_tree writes
// is understood (stored and deflated entries, no zip64 records, no data descriptors).
//
//   floor_tester <folder>    prints the archives tested and how many of them are bad

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t OutputSize = 256 * 1024;

std::uint32_t le16(const std::uint8_t* bytes) {
    return bytes[0] | (bytes[1] << 8);
}

std::uint32_t le32(const std::uint8_t* bytes) {
    return le16(bytes) | (le16(bytes + 2) << 16);
}

bool endsWithZip(std::string_view name) {
    if (name.size() < 4)
        return false;
    std::string tail(name.substr(name.size() - 4));
    for (char& character : tail)
        character = static_cast<char>(character >= 'A' && character <= 'Z' ? character + 32 : character);
    return tail == ".zip";
}

void listArchives(const std::string& folder, std::vector<std::string>& archives) {
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr)
        return;
    std::vector<std::string> subFolders;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name(entry->d_name);
        if (entry->d_type == DT_DIR && !name.starts_with('.'))
            subFolders.emplace_back(name);
        else if (entry->d_type == DT_REG && endsWithZip(name))
            archives.push_back(folder + std::string(name));
    }
    ::closedir(listing);
    for (const std::string& name : subFolders)
        listArchives(folder + name + "/", archives);
}

class Tester {
public:
    Tester() : m_output(OutputSize), m_state(std::make_unique<inflate_state>()) {}

    bool test(const std::string& path) {
        if (!readWhole(path))
            return false;
        const std::size_t size = m_bytes.size();
        if (size < 22)
            return false;
        std::size_t end = size - 22;
        const std::size_t lowest = size > 22 + 65535 ? size - 22 - 65535 : 0;
        while (le32(&m_bytes[end]) != 0x06054b50) {
            if (end == lowest)
                return false;
            --end;
        }
        const std::uint32_t entries = le16(&m_bytes[end + 10]);
        std::size_t header = le32(&m_bytes[end + 16]);
        for (std::uint32_t index = 0; index < entries; ++index) {
            if (header + 46 > end || le32(&m_bytes[header]) != 0x02014b50)
                return false;
            const std::uint8_t* central = &m_bytes[header];
            const std::uint32_t method = le16(central + 10);
            const std::uint32_t crc = le32(central + 16);
            const std::size_t packed = le32(central + 20);
            const std::size_t unpacked = le32(central + 24);
            const std::size_t local = le32(central + 42);
            header += 46 + le16(central + 28) + le16(central + 30) + le16(central + 32);
            if (local + 30 > size || le32(&m_bytes[local]) != 0x04034b50)
                return false;
            const std::size_t data = local + 30 + le16(&m_bytes[local + 26]) + le16(&m_bytes[local + 28]);
            if (data > size || packed > size - data || !checkEntry(method, data, packed, crc, unpacked))
                return false;
        }
        return true;
    }

private:
    bool readWhole(const std::string& path) {
        const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0)
            return false;
        struct stat status {};
        bool read = ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
        if (read) {
            m_bytes.resize(static_cast<std::size_t>(status.st_size));
            std::size_t done = 0;
            while (read && done < m_bytes.size()) {
                const ssize_t got = ::read(descriptor, m_bytes.data() + done, m_bytes.size() - done);
                read = got > 0;
                done += read ? static_cast<std::size_t>(got) : 0;
            }
        }
        ::close(descriptor);
        return read;
    }

    bool checkEntry(std::uint32_t method, std::size_t data, std::size_t packed, std::uint32_t crc,
                    std::size_t unpacked) {
        if (method == 0)
            return packed == unpacked && crc32_gzip_refl(0, &m_bytes[data], packed) == crc;
        if (method != 8)
            return false;
        inflate_state& state = *m_state;
        isal_inflate_init(&state);
        state.crc_flag = ISAL_DEFLATE;
        state.next_in = &m_bytes[data];
        state.avail_in = static_cast<std::uint32_t>(packed);
        std::uint32_t sum = 0;
        std::size_t produced = 0;
        do {
            state.next_out = m_output.data();
            state.avail_out = static_cast<std::uint32_t>(m_output.size());
            if (isal_inflate(&state) < 0)
                return false;
            const std::size_t chunk = m_output.size() - state.avail_out;
            sum = crc32_gzip_refl(sum, m_output.data(), chunk);
            produced += chunk;
            if (chunk == 0 && state.block_state != ISAL_BLOCK_FINISH)
                return false;
        } while (state.block_state != ISAL_BLOCK_FINISH);
        return sum == crc && produced == unpacked;
    }

    std::vector<std::uint8_t> m_bytes;
    std::vector<std::uint8_t> m_output;
    std::unique_ptr<inflate_state> m_state;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: floor_tester <folder>\n");
        return 2;
    }
    std::string root = argv[1];
    if (!root.ends_with('/'))
        root += '/';
    std::vector<std::string> archives;
    listArchives(root, archives);
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> bad{0};
    const auto work = [&] {
        Tester tester;
        for (std::size_t index = next++; index < archives.size(); index = next++) {
            if (!tester.test(archives[index]))
                ++bad;
        }
    };
    std::thread helper(work);
    work();
    helper.join();
    std::printf("%zu archives, %zu bad\n", archives.size(), bad.load());
    return bad.load() == 0 ? 0 : 1;
}
