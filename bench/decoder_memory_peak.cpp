// Peak memory of the real program over trees whose archives need large decoder state: LZMA zips
// with a 256 MiB dictionary over content that fills it, PPMd zips at 7-Zip's top level, and
// copies of those with bytes flipped late in their data. Each tree is tested by a fresh run of the
// program, unattended; the peak resident size of that run, its exit status and the archives it
// reported bad are printed.
//
//   decoder_memory_peak PROGRAM WORK_FOLDER
//
// 7-Zip's 7zz writes the archives; the trees are kept in WORK_FOLDER for later runs.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// Text of many different words, so that a PPMd model keeps growing; repeated every `period`
// bytes. Every byte an LZMA decoder produces goes into its dictionary, so 300 MB of a repeated
// block fill a 256 MiB one, while 7-Zip compresses them quickly.
void writeText(const fs::path& path, std::size_t size, std::size_t period) {
    std::string block;
    unsigned state = 12345;
    while (block.size() < period) {
        state = state * 1103515245u + 12345u;
        const unsigned length = 2 + (state >> 16) % 9;
        for (unsigned letter = 0; letter < length; ++letter) {
            state = state * 1103515245u + 12345u;
            block += static_cast<char>('a' + (state >> 16) % 26);
        }
        block += (state >> 8) % 13 == 0 ? ".\n" : " ";
    }
    block.resize(period);
    std::ofstream out(path, std::ios::binary);
    for (std::size_t written = 0; written < size; written += period)
        out.write(block.data(), static_cast<std::streamsize>(std::min(period, size - written)));
}

// Flips count bytes from 90 % of the first entry's data on.
void damage(const fs::path& path, int count) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    unsigned char header[30];
    file.read(reinterpret_cast<char*>(header), 30);
    const auto le16 = [&](int at) { return unsigned(header[at]) | unsigned(header[at + 1]) << 8; };
    const std::uint64_t compressed = le16(18) | std::uint64_t{le16(20)} << 16;
    const std::uint64_t data = 30 + le16(26) + le16(28);
    for (int flip = 0; flip < count; ++flip) {
        const std::uint64_t at = data + compressed * 9 / 10 + static_cast<std::uint64_t>(flip);
        file.seekg(static_cast<std::streamoff>(at));
        char byte = 0;
        file.read(&byte, 1);
        byte = static_cast<char>(byte ^ 0x5A);
        file.seekp(static_cast<std::streamoff>(at));
        file.write(&byte, 1);
    }
}

struct Measured {
    long peakKb = 0;
    int status = -1;
};

Measured measure(const std::string& program, const fs::path& tree, const fs::path& reports) {
    fs::create_directories(reports);
    const pid_t child = fork();
    if (child == 0) {
        if (std::freopen("/dev/null", "w", stdout) == nullptr)
            _exit(127);
        execl(program.c_str(), program.c_str(), "--report-dir", reports.c_str(), tree.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return {usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: decoder_memory_peak PROGRAM WORK_FOLDER\n";
        return 2;
    }
    const std::string program = fs::absolute(argv[1]);
    const fs::path work = fs::absolute(argv[2]);
    const fs::path source = work / "source";
    fs::create_directories(source);
    const fs::path lzmaText = source / "lzma.txt";
    const fs::path ppmdText = source / "ppmd.txt";
    if (!fs::exists(lzmaText))
        writeText(lzmaText, 300u << 20, 1u << 20);
    if (!fs::exists(ppmdText))
        writeText(ppmdText, 24u << 20, 24u << 20);

    struct Tree {
        std::string name;
        std::string options;
        fs::path text;
        int copies;
        int flips;
    };
    const std::vector<Tree> trees = {
        {"lzma-256m-one", "-mm=LZMA -md=256m", lzmaText, 1, 0},
        {"lzma-256m-four", "-mm=LZMA -md=256m", lzmaText, 4, 0},
        {"lzma-256m-four-damaged", "-mm=LZMA -md=256m", lzmaText, 4, 64},
        {"ppmd-mx9-four", "-mm=PPMd -mx=9", ppmdText, 4, 0},
        {"ppmd-mx9-four-damaged", "-mm=PPMd -mx=9", ppmdText, 4, 64},
    };
    std::printf("%-24s %12s %7s %s\n", "tree", "peak MB", "status", "bad archives reported");
    for (const Tree& tree : trees) {
        const fs::path folder = work / tree.name;
        if (!fs::exists(folder)) {
            fs::create_directories(folder);
            const fs::path first = folder / "a0.zip";
            if (!run("7zz a -tzip " + tree.options + " '" + first.string() + "' '" + tree.text.string() +
                     "' >/dev/null")) {
                std::cerr << "7zz failed for " << tree.name << "\n";
                return 1;
            }
            for (int copy = 1; copy < tree.copies; ++copy)
                fs::copy_file(first, folder / ("a" + std::to_string(copy) + ".zip"));
            for (int copy = 0; copy < tree.copies && tree.flips > 0; ++copy)
                damage(folder / ("a" + std::to_string(copy) + ".zip"), tree.flips);
        }
        const fs::path reports = work / "reports" / tree.name;
        fs::remove_all(reports);
        const Measured measured = measure(program, folder, reports);
        int bad = 0;
        std::ifstream errors(reports / "errors.txt");
        for (std::string line; std::getline(errors, line);)
            bad += line.find(".zip") != std::string::npos;
        std::printf("%-24s %12.1f %7d %d of %d\n", tree.name.c_str(),
                    static_cast<double>(measured.peakKb) / 1024.0, measured.status, bad, tree.copies);
    }
    return 0;
}
