#include "command_line.h"

#include "identity.h"

#include <optional>
#include <string_view>

namespace vellum {

namespace {

CommandLine usageError(std::string error) {
    CommandLine commandLine;
    commandLine.request = CommandLine::Request::UsageError;
    commandLine.error = std::move(error);
    return commandLine;
}

} // namespace

std::optional<std::uint64_t> parseMemorySize(std::string_view text) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    std::string_view unit = text.substr(digits);
    if (digits == 0 || unit.empty())
        return std::nullopt;
    constexpr std::string_view Units = "KMGT";
    const std::size_t power = Units.find(static_cast<char>(unit.front() & ~0x20)); // K or k alike
    unit.remove_prefix(1);
    if (power == std::string_view::npos || !(unit.empty() || unit == "B" || unit == "iB"))
        return std::nullopt;
    const int shift = 10 * static_cast<int>(power + 1);
    std::uint64_t value = 0;
    for (const char digit : text.substr(0, digits)) {
        const auto added = static_cast<std::uint64_t>(digit - '0');
        if (value > ((UINT64_MAX >> shift) - added) / 10)
            return std::nullopt;
        value = value * 10 + added;
    }
    if (value == 0)
        return std::nullopt;
    return value << shift;
}

CommandLine parseCommandLine(int argc, char** argv) {
    CommandLine commandLine;
    bool optionsEnded = false;
    // The value of an option that takes one: "--name=value" or the next argument.
    const auto valueOf = [&](std::string_view argument, std::string_view name, int& index,
                             std::string& value) -> std::optional<std::string> {
        if (argument.size() > name.size())
            value = argument.substr(name.size() + 1);
        else if (index + 1 < argc)
            value = argv[++index];
        else
            return "option '" + std::string(name) + "' requires an argument";
        if (value.empty())
            return "option '" + std::string(name) + "' requires a non-empty argument";
        return std::nullopt;
    };
    const auto isOption = [](std::string_view argument, std::string_view name) {
        return argument == name || (argument.starts_with(name) && argument[name.size()] == '=');
    };
    for (int index = 1; index < argc; ++index) {
        const std::string_view argument = argv[index];
        if (optionsEnded || !argument.starts_with('-')) {
            // An empty path names nothing; taken as the working folder it would test what nobody asked for.
            if (argument.empty())
                return usageError("an empty path names no folder or archive");
            commandLine.paths.emplace_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help") {
            commandLine.request = CommandLine::Request::Help;
            return commandLine;
        } else if (argument == "--version") {
            commandLine.request = CommandLine::Request::Version;
            return commandLine;
        } else if (isOption(argument, "--report-dir")) {
            if (auto error = valueOf(argument, "--report-dir", index, commandLine.reportFolder))
                return usageError(std::move(*error));
        } else if (isOption(argument, "--files-from")) {
            if (auto error = valueOf(argument, "--files-from", index, commandLine.fileList))
                return usageError(std::move(*error));
        } else if (isOption(argument, "--memory")) {
            std::string size;
            if (auto error = valueOf(argument, "--memory", index, size))
                return usageError(std::move(*error));
            const std::optional<std::uint64_t> bytes = parseMemorySize(size);
            if (!bytes)
                return usageError("invalid size '" + size + "' for '--memory' (say 512M, 2G or 1536MiB)");
            commandLine.memoryLimit = *bytes;
        } else if (argument == "--verbose") {
            commandLine.verbose = true;
        } else if (argument == "--json") {
            commandLine.json = true;
        } else if (argument == "--quiet") {
            commandLine.quiet = true;
        } else if (argument == "--follow") {
            commandLine.followLinks = true;
        } else if (argument == "--null") {
            commandLine.nullSeparated = true;
        } else if (argument.starts_with("--")) {
            return usageError("unrecognized option '" + std::string(argument) + "'");
        } else if (argument.size() == 1) {
            return usageError("invalid option -- '-'");
        } else {
            for (const char letter : argument.substr(1)) {
                if (letter == 'v')
                    commandLine.verbose = true;
                else if (letter == 'q')
                    commandLine.quiet = true;
                else if (letter == 'L')
                    commandLine.followLinks = true;
                else if (letter == '0')
                    commandLine.nullSeparated = true;
                else
                    return usageError("invalid option -- '" + std::string(1, letter) + "'");
            }
        }
    }
    if (commandLine.nullSeparated && commandLine.fileList.empty())
        return usageError("option '--null' needs a list given with '--files-from'");
    if ((commandLine.verbose || commandLine.json || commandLine.quiet || commandLine.followLinks) &&
        !commandLine.unattended())
        return usageError("nothing to test: give folders, archives or '--files-from'");
    return commandLine;
}

std::string versionText() {
    return std::string(identity::programTitle) + " " + identity::fileVersion + "\n" +
           identity::fileDescription + "\n";
}

std::string helpText() {
    return std::string("Usage: vellum [OPTION]... [FOLDER | ARCHIVE]...\n") + identity::fileDescription +
           ".\n\n"
           "Without a folder, Vellum opens its window; Browse chooses the folder to test.\n"
           "Given folders, Vellum tests every *.zip in them and in every folder below them;\n"
           "given an archive, it tests that file whatever its name ends in. It runs\n"
           "unattended, writes its reports and exits. The reports, errors.txt (the bad\n"
           "archives of the last run that found any) and errors.log (one record per run),\n"
           "go beside the program when its folder is writable, else into\n"
           "$XDG_STATE_HOME/vellum (by default ~/.local/state/vellum).\n"
           "A path named like an option is given as ./-name or after --.\n\n"
           "  --files-from FILE  test the archives FILE names, one per line (- reads\n"
           "                     standard input); relative names start at the working folder\n"
           "  -0, --null         names in the --files-from list end in NUL, not newline\n"
           "  -v, --verbose      print each bad or unverified archive with the reason:\n"
           "                     PATH: bad: REASON\n"
           "  --json             print one JSON object per archive, then a summary object\n"
           "                     (it replaces the -v lines)\n"
           "  -q, --quiet        no progress line on a terminal's standard error\n"
           "  -L, --follow       walk into folders that symbolic links lead to (never into\n"
           "                     a folder the walk is already inside); without it each such\n"
           "                     link is named on standard error and passed over\n"
           "  --report-dir DIR   write the reports into DIR\n"
           "  --memory SIZE      the most memory the decoders may have (512M, 2G, 1536MiB);\n"
           "                     an archive with an entry that needs more is unverified\n"
           "  --help             show this text\n"
           "  --version          show the version\n\n"
           "An unverified archive is sound as far as it could be checked, but some entries\n"
           "could not be (encrypted, a method without a decoder, or too little memory for\n"
           "its decoder); the reports count it as good.\n\n"
           "Exit status:\n"
           "  0      no bad archive\n"
           "  1      bad archives found\n"
           "  2      usage error, or a path, list or folder that could not be read, or an\n"
           "         archive left unverified for want of decoder memory (the run is\n"
           "         incomplete)\n"
           "  3      the reports or the results could not be written\n"
           "  128+N  interrupted by signal N\n"
           "When several apply, the highest wins. See vellum(1).\n";
}

std::string usageHint() {
    return "Try 'vellum --help' for more information.\n";
}

} // namespace vellum
