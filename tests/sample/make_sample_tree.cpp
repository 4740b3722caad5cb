// Writes the sample folder: a small tree of sound and damaged archives to try the program on.
// Usage: make_sample_tree <folder>. The folder is emptied first, so every build gives the same tree.

#include "zip_builder.h"

#include <cstdio>
#include <filesystem>
#include <string>

using namespace vellum::testing;

namespace {

std::string text(int lines) {
    std::string content;
    for (int line = 1; line <= lines; ++line)
        content += "Line " + std::to_string(line) + " of a file kept in an archive since 1994.\n";
    return content;
}

void writeSoundArchives(const std::string& root) {
    writeFile(
        root + "/good/letters.zip",
        buildZip({{"letter-1.txt", text(40)}, {"letter-2.txt", text(90)}, {"FILE_ID.DIZ", "Letters, 1994\n"}})
            .bytes);
    writeFile(root + "/good/stored.zip", buildZip({{"picture.raw", std::string(2048, '\x7f'), 0}}).bytes);
    writeFile(root + "/good/empty.zip", buildZip({}).bytes);
    writeFile(
        root + "/good/commented.zip",
        buildZip({{"readme.txt", text(5)}}, ZipBuilderOptions{.comment = "Uploaded to the board in 1996"})
            .bytes);
    ZipBuilderEntry streamed{"streamed.log", text(200)};
    streamed.dataDescriptor = true;
    writeFile(root + "/good/streamed.zip", buildZip({streamed}).bytes);
    writeFile(root + "/Mixed Case/Report.ZIP", buildZip({{"report.txt", text(12)}}).bytes);
    writeFile(root + "/nested/level1/level2/deep.zip", buildZip({{"deep.txt", text(3)}}).bytes);
    // Hidden folders are walked like any other.
    writeFile(root + "/.backups/hidden.zip", buildZip({{"kept.txt", text(4)}}).bytes);
}

void writeDamagedArchives(const std::string& root) {
    BuiltZip flipped = buildZip({{"ledger.txt", text(60)}});
    flipBit(flipped.bytes, flipped.entries[0].dataOffset + 17, 3);
    writeFile(root + "/damaged/bit-flip.zip", flipped.bytes);

    BuiltZip storedFlip = buildZip({{"table.dat", text(30), 0}});
    flipBit(storedFlip.bytes, storedFlip.entries[0].dataOffset + 5, 1);
    writeFile(root + "/damaged/stored-bit-flip.zip", storedFlip.bytes);

    const BuiltZip whole = buildZip({{"part-1.txt", text(50)}, {"part-2.txt", text(50)}});
    writeFile(root + "/damaged/truncated.zip", whole.bytes.substr(0, whole.bytes.size() / 2));

    writeFile(root + "/damaged/not-an-archive.zip",
              "This download failed; the server sent this text instead.\n");
    writeFile(root + "/damaged/zero-length.zip", "");
    std::filesystem::create_directories(root + "/damaged/old.zip");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample_tree <folder>\n");
        return 2;
    }
    const std::string root = argv[1];
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    writeSoundArchives(root);
    writeDamagedArchives(root);
    return 0;
}
