// Writes a benchmark tree, the same bytes on every run.
//   make_bench_tree small <folder> [archives]  many small archives (1 to 20 entries, 2 to 50 KB of
//                                              data each) in 200 folders five levels deep
//   make_bench_tree large <folder> [MiB]       four large archives: one big deflated entry, many
//                                              medium entries, stored entries, and zip64 records
//   make_bench_tree stored <folder> [MiB]      archives of stored entries only
//   make_bench_tree tiny <folder> [archives]   archives of one 5-byte entry in the same 200 folders
//                                              as small: what each archive costs besides its data
//   make_bench_tree folders <folder> [count]   empty folders and nothing else
//   make_bench_tree files <folder> [count]     empty files that are not archives, 1,000 to a
//                                              folder: what the walk costs
//   make_bench_tree huge <folder> [MiB]        one zip64 archive of a single compressible entry
//   make_bench_tree zeros <folder> [GiB]       one zip64 archive of a single stored entry of zeros,
//                                              a sparse file; the size is rounded down to a power
//                                              of two

#include "huge_archive_writer.h"
#include "zip_builder.h"

#include <bit>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

using namespace vellum::testing;

namespace {

// Text-like data that compresses about as well as real documents do (roughly 3 to 1).
std::string documentText(std::mt19937& random, std::size_t size) {
    static const char* words[] = {"archive", "ledger", "board",   "upload", "modem", "record", "entry",
                                  "folder",  "1994",   "backup",  "file",   "zip",   "the",    "of",
                                  "and",     "report", "checked", "night",  "line",  "data"};
    std::string text;
    text.reserve(size + 16);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(words) - 1);
    std::uniform_int_distribution<int> number(0, 99999);
    while (text.size() < size) {
        text += words[pick(random)];
        text += (random() % 11 == 0) ? " " + std::to_string(number(random)) + ".\n" : " ";
    }
    text.resize(size);
    return text;
}

// Where the small and tiny trees put archive `index`: 200 folders, five levels deep (5 top
// folders, 8 chains in each, 5 leaves at the bottom).
std::string smallTreePath(const std::string& root, int index) {
    const int folder = index % 200;
    return root + "/top" + std::to_string(folder % 5) + "/chain" + std::to_string(folder / 25) +
           "/l2/l3/level" + std::to_string(folder % 25 / 5) + "/archive" + std::to_string(index) + ".zip";
}

void writeSmallTree(const std::string& root, int archives) {
    std::mt19937 random(1994);
    std::uniform_int_distribution<int> entryCount(1, 20);
    std::uniform_int_distribution<std::size_t> archiveSize(2'000, 50'000);
    for (int index = 0; index < archives; ++index) {
        const std::string path = smallTreePath(root, index);
        std::vector<ZipBuilderEntry> entries;
        const int count = entryCount(random);
        const std::size_t total = archiveSize(random);
        for (int entry = 0; entry < count; ++entry)
            entries.push_back({"file" + std::to_string(entry) + ".txt",
                               documentText(random, total / static_cast<std::size_t>(count) + 1)});
        writeFile(path, buildZip(entries).bytes);
    }
}

void writeTinyTree(const std::string& root, int archives) {
    for (int index = 0; index < archives; ++index)
        writeFile(smallTreePath(root, index), buildZip({{"tiny.txt", "tiny\n", 0}}).bytes);
}

void writeFileTree(const std::string& root, int count) {
    constexpr int PerFolder = 1000;
    for (int index = 0; index < count; ++index) {
        const int folder = index / PerFolder;
        const std::string path = root + "/f" + std::to_string(folder % 10) + "/g" + std::to_string(folder);
        if (index % PerFolder == 0)
            std::filesystem::create_directories(path);
        std::FILE* file = std::fopen((path + "/note" + std::to_string(index) + ".txt").c_str(), "w");
        if (file != nullptr)
            std::fclose(file);
    }
}

void writeLargeTree(const std::string& root, std::size_t mebibytes) {
    std::mt19937 random(2024);
    const std::size_t quarter = mebibytes * 1024 * 1024 / 4;
    writeFile(root + "/single-entry.zip", buildZip({{"big.txt", documentText(random, quarter)}}).bytes);

    std::vector<ZipBuilderEntry> medium;
    for (std::size_t size = 0; size < quarter; size += quarter / 2000 + 1)
        medium.push_back(
            {"doc" + std::to_string(medium.size()) + ".txt", documentText(random, quarter / 2000 + 1)});
    writeFile(root + "/medium-entries.zip", buildZip(medium).bytes);

    std::vector<ZipBuilderEntry> stored;
    for (int index = 0; index < 8; ++index)
        stored.push_back({"raw" + std::to_string(index) + ".bin", documentText(random, quarter / 8), 0});
    writeFile(root + "/stored.zip", buildZip(stored).bytes);

    ZipBuilderEntry wide{"wide.txt", documentText(random, quarter)};
    wide.zip64 = true;
    writeFile(root + "/zip64.zip", buildZip({wide}, ZipBuilderOptions{.zip64EndRecord = true}).bytes);
}

// Four archives of stored entries of mixed sizes, from a few kilobytes to tens of megabytes.
void writeStoredTree(const std::string& root, std::size_t mebibytes) {
    std::mt19937 random(1987);
    const std::size_t perArchive = mebibytes * 1024 * 1024 / 4;
    const std::string text = documentText(random, 64u << 20);
    for (int archive = 0; archive < 4; ++archive) {
        std::vector<ZipBuilderEntry> entries;
        std::size_t filled = 0;
        for (std::size_t size = 4096; filled < perArchive; size = size < (32u << 20) ? size * 4 : 4096) {
            const std::size_t length = std::min(size, perArchive - filled);
            const std::size_t start = (filled * 7 + entries.size() * 4099) % (text.size() - length + 1);
            entries.push_back(
                {"part" + std::to_string(entries.size()) + ".bin", text.substr(start, length), 0});
            filled += length;
        }
        writeFile(root + "/stored" + std::to_string(archive) + ".zip", buildZip(entries).bytes);
    }
}

// count empty folders: 100 at the top, the rest spread evenly below them.
void writeFolderTree(const std::string& root, int count) {
    const int top = std::min(count, 100);
    for (int index = 0; index < count; ++index) {
        const int parent = index % top;
        std::string path = root + "/d" + std::to_string(parent);
        if (index >= top)
            path += "/e" + std::to_string(index);
        std::filesystem::create_directories(path);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(
            stderr,
            "usage: make_bench_tree small|tiny|large|stored|folders|files|huge|zeros <folder> [amount]\n");
        return 2;
    }
    const std::string kind = argv[1];
    const std::string root = argv[2];
    const bool amountGiven = argc > 3;
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    if (kind == "small")
        writeSmallTree(root, amountGiven ? std::stoi(argv[3]) : 20000);
    else if (kind == "large")
        writeLargeTree(root, amountGiven ? std::stoul(argv[3]) : 1000);
    else if (kind == "stored")
        writeStoredTree(root, amountGiven ? std::stoul(argv[3]) : 1000);
    else if (kind == "tiny")
        writeTinyTree(root, amountGiven ? std::stoi(argv[3]) : 20000);
    else if (kind == "files")
        writeFileTree(root, amountGiven ? std::stoi(argv[3]) : 1000000);
    else if (kind == "folders")
        writeFolderTree(root, amountGiven ? std::stoi(argv[3]) : 100000);
    else if (kind == "huge")
        return vellum::bench::writeHugeArchive(root + "/huge.zip", (amountGiven ? std::stoull(argv[3]) : 5120)
                                                                       << 20)
                   ? 0
                   : 1;
    else if (kind == "zeros") {
        const std::uint64_t gibibytes = std::bit_floor(amountGiven ? std::stoull(argv[3]) : 64);
        const std::string error = vellum::testing::writeZerosArchive(root + "/zeros.zip", gibibytes << 30);
        if (!error.empty()) {
            std::fprintf(stderr, "make_bench_tree: %s\n", error.c_str());
            return 1;
        }
    } else
        return 2;
    return 0;
}
