// Writes a benchmark tree, the same bytes on every run.
//   make_bench_tree small <folder> [archives]  many small archives (1 to 20 entries of 2 to 50 KB)
//                                              spread over folders five levels deep
//   make_bench_tree large <folder> [MiB]       four large archives: one big deflated entry, many
//                                              medium entries, stored entries, and zip64 records

#include "zip_builder.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

using namespace vellum::testing;

namespace {

// Text-like data that compresses about as well as real documents do (roughly 3 to 1).
std::string documentText(std::mt19937& random, std::size_t size)
{
    static const char* words[] = {"archive", "ledger", "board", "upload", "modem", "record", "entry",
                                  "folder", "1994",    "backup", "file",   "zip",   "the",    "of",
                                  "and",    "report",  "checked", "night", "line",  "data"};
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

void writeSmallTree(const std::string& root, int archives)
{
    std::mt19937 random(1994);
    std::uniform_int_distribution<int> entryCount(1, 20);
    std::uniform_int_distribution<std::size_t> entrySize(2'000, 50'000);
    for (int index = 0; index < archives; ++index) {
        // 200 folders: 5 top folders, each a chain of sub-folders 5 levels deep, 8 chains each.
        const int folder = index % 200;
        const std::string path = root + "/top" + std::to_string(folder % 5) + "/chain" + std::to_string(folder / 25) +
                                 "/l2/l3/l4/level" + std::to_string(folder % 25 / 5) + "/archive" +
                                 std::to_string(index) + ".zip";
        std::vector<ZipBuilderEntry> entries;
        const int count = entryCount(random);
        for (int entry = 0; entry < count; ++entry)
            entries.push_back({"file" + std::to_string(entry) + ".txt", documentText(random, entrySize(random))});
        writeFile(path, buildZip(entries).bytes);
    }
}

void writeLargeTree(const std::string& root, std::size_t mebibytes)
{
    std::mt19937 random(2024);
    const std::size_t quarter = mebibytes * 1024 * 1024 / 4;
    writeFile(root + "/single-entry.zip", buildZip({{"big.txt", documentText(random, quarter)}}).bytes);

    std::vector<ZipBuilderEntry> medium;
    for (std::size_t size = 0; size < quarter; size += quarter / 2000 + 1)
        medium.push_back({"doc" + std::to_string(medium.size()) + ".txt", documentText(random, quarter / 2000 + 1)});
    writeFile(root + "/medium-entries.zip", buildZip(medium).bytes);

    std::vector<ZipBuilderEntry> stored;
    for (int index = 0; index < 8; ++index)
        stored.push_back({"raw" + std::to_string(index) + ".bin", documentText(random, quarter / 8), 0});
    writeFile(root + "/stored.zip", buildZip(stored).bytes);

    ZipBuilderEntry wide{"wide.txt", documentText(random, quarter)};
    wide.zip64 = true;
    writeFile(root + "/zip64.zip", buildZip({wide}, ZipBuilderOptions{.zip64EndRecord = true}).bytes);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_bench_tree small|large <folder> [count|MiB]\n");
        return 2;
    }
    const std::string kind = argv[1];
    const std::string root = argv[2];
    std::filesystem::remove_all(root);
    if (kind == "small")
        writeSmallTree(root, argc > 3 ? std::stoi(argv[3]) : 2000);
    else if (kind == "large")
        writeLargeTree(root, argc > 3 ? std::stoul(argv[3]) : 256);
    else
        return 2;
    return 0;
}
