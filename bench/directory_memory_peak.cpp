// Peak memory and time of testing archives whose central directory is huge: ten million stored
// entries of a few bytes each (a 520 MB directory), tested alone and two at once, by each program
// given and, where they are installed, by `7zz t` and `unzip -tq`; then the time of testing an
// archive of 200,000 such entries, so that holding the directory compactly is seen not to cost
// speed. Every figure comes from a fresh process: its peak resident size as wait4() reports it, its
// wall-clock time and its exit status. Two at once is one run of a program given both paths (its
// look-ahead tests them side by side), or two processes of a peer started together, whose peaks add.
//
//   directory_memory_peak WORK_FOLDER NAME=PROGRAM... [--entries N] [--speed-entries N] [--runs N]
//                         [--timeout SECONDS] [--no-peers]
//
// The archives are written once into WORK_FOLDER and kept for later runs (about 1 GB); the second
// archive of a pair is a hard link to the first.

#include "huge_archive_writer.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Measured {
    double peakMb = 0; // one process's peak, or the peaks of processes run together added up
    double seconds = 0;
    int status = -1; // the exit status, the worst of several; -1 when killed or timed out
    bool timedOut = false;
};

// Runs the commands at once, each with its output thrown away, and waits for all of them, killing
// those still running after timeout seconds.
Measured runTogether(const std::vector<std::vector<std::string>>& commands, double timeout) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<pid_t> children;
    // What is buffered for standard output must not be written again by the children.
    std::fflush(stdout);
    for (const std::vector<std::string>& command : commands) {
        const pid_t child = fork();
        if (child == 0) {
            if (std::freopen("/dev/null", "w", stdout) == nullptr ||
                std::freopen("/dev/null", "w", stderr) == nullptr)
                _exit(127);
            std::vector<char*> arguments;
            for (const std::string& argument : command)
                arguments.push_back(const_cast<char*>(argument.c_str()));
            arguments.push_back(nullptr);
            execvp(arguments[0], arguments.data());
            _exit(127);
        }
        children.push_back(child);
    }
    Measured measured;
    measured.status = 0;
    std::size_t running = children.size();
    while (running > 0) {
        for (pid_t& child : children) {
            if (child <= 0)
                continue;
            int status = 0;
            rusage usage{};
            const pid_t done = wait4(child, &status, WNOHANG, &usage);
            if (done != child)
                continue;
            measured.peakMb += static_cast<double>(usage.ru_maxrss) / 1024.0;
            const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            measured.status = code < 0 || measured.status < 0 ? -1 : std::max(measured.status, code);
            child = 0;
            --running;
        }
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (running > 0 && elapsed > timeout && !measured.timedOut) {
            measured.timedOut = true;
            for (const pid_t child : children) {
                if (child > 0)
                    kill(child, SIGKILL);
            }
        }
        if (running > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    measured.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (measured.timedOut)
        measured.status = -1;
    return measured;
}

bool installed(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string cell(const Measured& measured) {
    char text[96];
    if (measured.timedOut)
        std::snprintf(text, sizeof text, "%10s %9s %6s", "-", "> limit", "-");
    else
        std::snprintf(text, sizeof text, "%10.1f %9.2f %6d", measured.peakMb, measured.seconds,
                      measured.status);
    return text;
}

// Makes path an archive of count entries, unless it already is one.
bool ensureArchive(const fs::path& path, std::uint64_t count) {
    if (fs::exists(path))
        return true;
    std::cerr << "writing " << path.string() << " (" << count << " entries)\n";
    const fs::path partial = path.string() + ".partial";
    if (!vellum::bench::writeManyEntryArchive(partial.string(), count))
        return false;
    fs::rename(partial, path);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::uint64_t entries = 10'000'000;
    std::uint64_t speedEntries = 200'000;
    int runs = 5;
    double timeout = 900;
    bool peers = true;
    std::vector<std::pair<std::string, std::string>> programs;
    fs::path work;
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        const auto value = [&] { return index + 1 < argc ? std::string(argv[++index]) : std::string(); };
        if (argument == "--entries")
            entries = std::stoull(value());
        else if (argument == "--speed-entries")
            speedEntries = std::stoull(value());
        else if (argument == "--runs")
            runs = std::max(1, std::stoi(value()));
        else if (argument == "--timeout")
            timeout = std::stod(value());
        else if (argument == "--no-peers")
            peers = false;
        else if (work.empty())
            work = fs::absolute(argument);
        else if (const std::size_t equals = argument.find('='); equals != std::string::npos)
            programs.emplace_back(argument.substr(0, equals),
                                  fs::absolute(argument.substr(equals + 1)).string());
        else
            programs.emplace_back(argument, fs::absolute(argument).string());
    }
    if (work.empty() || programs.empty()) {
        std::cerr << "usage: directory_memory_peak WORK_FOLDER NAME=PROGRAM... [--entries N] "
                     "[--speed-entries N] [--runs N] [--timeout SECONDS] [--no-peers]\n";
        return 2;
    }
    const fs::path big = work / ("entries-" + std::to_string(entries)) / "a.zip";
    const fs::path bigTwin = big.parent_path() / "b.zip";
    const fs::path small = work / ("entries-" + std::to_string(speedEntries)) / "a.zip";
    const fs::path smallTwin = small.parent_path() / "b.zip";
    if (!ensureArchive(big, entries) || !ensureArchive(small, speedEntries)) {
        std::cerr << "could not write the archives\n";
        return 1;
    }
    for (const auto& [first, twin] : {std::pair{big, bigTwin}, std::pair{small, smallTwin}}) {
        if (!fs::exists(twin))
            fs::create_hard_link(first, twin);
    }
    const fs::path reports = work / "reports";
    fs::create_directories(reports);

    struct Tool {
        std::string name;
        std::vector<std::string> one;              // the command testing the first archive
        std::vector<std::vector<std::string>> two; // the commands testing both
    };
    std::vector<Tool> tools;
    for (const auto& [name, program] : programs) {
        const std::vector<std::string> base{program, "-q", "--report-dir", reports.string()};
        std::vector<std::string> one = base;
        one.push_back(big.string());
        std::vector<std::string> two = one;
        two.push_back(bigTwin.string());
        tools.push_back({name, one, {two}});
    }
    if (peers && installed("7zz"))
        tools.push_back({"7zz t",
                         {"7zz", "t", big.string()},
                         {{"7zz", "t", big.string()}, {"7zz", "t", bigTwin.string()}}});
    if (peers && installed("unzip"))
        tools.push_back({"unzip -tq",
                         {"unzip", "-tq", big.string()},
                         {{"unzip", "-tq", big.string()}, {"unzip", "-tq", bigTwin.string()}}});

    std::printf("archive: %llu stored entries, %.1f MB\n", static_cast<unsigned long long>(entries),
                static_cast<double>(fs::file_size(big)) / 1e6);
    std::printf("%-16s %10s %9s %6s   %10s %9s %6s\n", "tool", "one: MB", "seconds", "status", "two: MB",
                "seconds", "status");
    // The page cache is warmed once, so that the first tool does not pay for the disk.
    runTogether({{"cat", big.string()}}, timeout);
    for (const Tool& tool : tools) {
        const Measured one = runTogether({tool.one}, timeout);
        const Measured two = runTogether(tool.two, timeout);
        std::printf("%-16s %s   %s\n", tool.name.c_str(), cell(one).c_str(), cell(two).c_str());
        std::fflush(stdout);
    }

    std::printf("\narchive: %llu stored entries, %.1f MB; median of %d runs\n",
                static_cast<unsigned long long>(speedEntries),
                static_cast<double>(fs::file_size(small)) / 1e6, runs);
    std::printf("%-16s %10s %9s %6s   %10s %9s %6s\n", "tool", "one: MB", "seconds", "status", "two: MB",
                "seconds", "status");
    runTogether({{"cat", small.string()}}, timeout);
    for (const auto& [name, program] : programs) {
        const std::vector<std::string> base{program, "-q", "--report-dir", reports.string(), small.string()};
        std::vector<std::string> two = base;
        two.push_back(smallTwin.string());
        std::vector<Measured> ones;
        std::vector<Measured> twos;
        for (int run = 0; run < runs; ++run) {
            ones.push_back(runTogether({base}, timeout));
            twos.push_back(runTogether({two}, timeout));
        }
        const auto median = [](std::vector<Measured> measured) {
            std::sort(measured.begin(), measured.end(), [](const Measured& left, const Measured& right) {
                return left.seconds < right.seconds;
            });
            return measured[measured.size() / 2];
        };
        std::printf("%-16s %s   %s\n", name.c_str(), cell(median(ones)).c_str(), cell(median(twos)).c_str());
        std::fflush(stdout);
    }
    return 0;
}
