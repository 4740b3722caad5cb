// Measures how long the archive component works between two yields to its caller, the time a
// window would stay unresponsive: the component yields once 25 ms have passed and promises that no
// stretch exceeds 50 ms. Each operation runs several times; the longest stretch of each is shown.
//   yield_gaps [runs]

#include "zip/zip_tester.h"
#include "zip_builder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace vellum;
using namespace vellum::testing;

namespace {

using Clock = std::chrono::steady_clock;

// 64 MiB of log lines in two deflated entries: long to decompress and check.
std::string largeArchive() {
    std::string data;
    data.reserve(64u << 20);
    char line[96];
    for (unsigned counter = 0; data.size() < (64u << 20); ++counter) {
        const int length = std::snprintf(line, sizeof line, "%08u entry checked at offset %010u status %u\n",
                                         counter, counter * 977u, counter % 7u);
        data.append(line, static_cast<std::size_t>(length));
    }
    return buildZip({{"large-1.log", data.substr(0, data.size() / 2), 8},
                     {"large-2.log", data.substr(data.size() / 2), 8}})
        .bytes;
}

// 100,000 tiny stored entries: a long central directory and as many local headers.
std::string manyEntries() {
    std::vector<ZipBuilderEntry> entries;
    for (int index = 0; index < 100000; ++index)
        entries.push_back(
            {"folder/file" + std::to_string(index) + ".txt", "entry " + std::to_string(index), 0});
    return buildZip(entries).bytes;
}

double longestStretch(const std::string& archive, bool probe) {
    ZipTester tester;
    Clock::time_point last = Clock::now();
    Clock::duration longest{};
    tester.onYield = [&] {
        const Clock::time_point now = Clock::now();
        longest = std::max(longest, now - last);
        last = now;
    };
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(archive.data()),
                                              archive.size());
    if (probe)
        tester.probeBytes(bytes);
    else
        tester.verifyBytes(bytes);
    longest = std::max(longest, Clock::now() - last);
    return std::chrono::duration<double, std::milli>(longest).count();
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string large = largeArchive();
    const std::string many = manyEntries();
    for (const bool probe : {false, true}) {
        double longest = 0;
        for (int run = 0; run < runs; ++run)
            longest = std::max(longest, longestStretch(probe ? many : large, probe));
        std::printf("%-44s %7.1f ms\n",
                    probe ? "probe of 100,000 entries" : "verify of 64 MiB in two deflated entries", longest);
    }
    return 0;
}
