#include "command_line.h"

#include "identity.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <optional>
#include <string_view>
#include <variant>

namespace vellum {

namespace {

CommandLine usageError(std::string error) {
    CommandLine commandLine;
    commandLine.request = CommandLine::Request::UsageError;
    commandLine.error = std::move(error);
    return commandLine;
}

enum class LongOption {
    Help,
    Version,
    ReportDir,
    FilesFrom,
    Memory,
    Verbose,
    Json,
    Quiet,
    Follow,
    Null,
    Strict,
    Ledger,
    NoLedger,
    Due,
    TimeLimit,
    ListDue,
    CheckResults,
    Import,
};

struct LongOptionName {
    std::string_view name;
    LongOption option;
    bool takesValue;
};

constexpr LongOptionName LongOptions[] = {
    {"--help", LongOption::Help, false},
    {"--version", LongOption::Version, false},
    {"--report-dir", LongOption::ReportDir, true},
    {"--files-from", LongOption::FilesFrom, true},
    {"--memory", LongOption::Memory, true},
    {"--verbose", LongOption::Verbose, false},
    {"--json", LongOption::Json, false},
    {"--quiet", LongOption::Quiet, false},
    {"--follow", LongOption::Follow, false},
    {"--null", LongOption::Null, false},
    {"--strict", LongOption::Strict, false},
    {"--ledger", LongOption::Ledger, true},
    {"--no-ledger", LongOption::NoLedger, false},
    {"--due", LongOption::Due, true},
    {"--time-limit", LongOption::TimeLimit, true},
    {"--list-due", LongOption::ListDue, false},
    {"--check-results", LongOption::CheckResults, false},
    {"--import", LongOption::Import, false},
};

const char* taskOptionName(CommandLine::Task task) {
    switch (task) {
    case CommandLine::Task::ListDue:
        return "--list-due";
    case CommandLine::Task::CheckResults:
        return "--check-results";
    case CommandLine::Task::Import:
        return "--import";
    case CommandLine::Task::Test:
        break;
    }
    return "";
}

// Sets the task an option asks for; two different ones are a usage error.
std::optional<std::string> takeTask(CommandLine& commandLine, CommandLine::Task task) {
    if (commandLine.task != CommandLine::Task::Test && commandLine.task != task)
        return std::string("options '") + taskOptionName(commandLine.task) + "' and '" +
               taskOptionName(task) + "' exclude each other";
    commandLine.task = task;
    return std::nullopt;
}

struct ShortOption {
    char letter;
    LongOption option;
};

constexpr ShortOption ShortOptions[] = {
    {'h', LongOption::Help},  {'V', LongOption::Version}, {'v', LongOption::Verbose},
    {'q', LongOption::Quiet}, {'L', LongOption::Follow},  {'0', LongOption::Null},
};

// The option a long name stands for, whole or shortened to a prefix that fits one option alone, as
// GNU programs take them; otherwise the usage error that says why not. `argument` is the whole
// argument, as the error quotes it.
std::variant<const LongOptionName*, std::string> longOptionNamed(std::string_view given,
                                                                 std::string_view argument) {
    std::vector<const LongOptionName*> candidates;
    for (const LongOptionName& entry : LongOptions) {
        if (entry.name == given)
            return &entry;
        if (given.size() > 2 && entry.name.starts_with(given))
            candidates.push_back(&entry);
    }
    if (candidates.size() == 1)
        return candidates.front();
    if (candidates.empty())
        return "unrecognized option '" + std::string(argument) + "'";
    std::string error = "option '" + std::string(given) + "' is ambiguous; possibilities:";
    for (const LongOptionName* candidate : candidates)
        error += " '" + std::string(candidate->name) + "'";
    return error;
}

// Records one option and its value; a value it cannot take is a usage error, told in the answer.
// The short forms are the same options without a value.
std::optional<std::string> applyOption(CommandLine& commandLine, LongOption option, std::string value) {
    switch (option) {
    case LongOption::Help:
        commandLine.request = CommandLine::Request::Help;
        break;
    case LongOption::Version:
        commandLine.request = CommandLine::Request::Version;
        break;
    case LongOption::ReportDir:
        commandLine.reportFolder = std::move(value);
        break;
    case LongOption::FilesFrom:
        commandLine.fileList = std::move(value);
        break;
    case LongOption::Memory: {
        const std::optional<std::uint64_t> bytes = parseMemorySize(value);
        if (!bytes)
            return "invalid size '" + value + "' for '--memory' (say 512M, 2G or 1536MiB)";
        commandLine.memoryLimit = *bytes;
        break;
    }
    case LongOption::Verbose:
        commandLine.verbose = true;
        break;
    case LongOption::Json:
        commandLine.json = true;
        break;
    case LongOption::Quiet:
        commandLine.quiet = true;
        break;
    case LongOption::Follow:
        commandLine.followLinks = true;
        break;
    case LongOption::Null:
        commandLine.nullSeparated = true;
        break;
    case LongOption::Strict:
        commandLine.strict = true;
        break;
    case LongOption::Ledger:
        if (value.empty())
            return std::string("the ledger's file name is empty");
        commandLine.ledger = std::move(value);
        break;
    case LongOption::NoLedger:
        commandLine.noLedger = true;
        break;
    case LongOption::Due: {
        int days = -1;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), days);
        if (error != std::errc() || end != value.data() + value.size() || days < 0)
            return "invalid number of days '" + value + "' for '--due'";
        commandLine.dueDays = days;
        break;
    }
    case LongOption::TimeLimit:
        commandLine.timeLimit = parseDuration(value);
        if (!commandLine.timeLimit)
            return "invalid duration '" + value + "' for '--time-limit' (say 7200, 90m or 2h)";
        break;
    case LongOption::ListDue:
        return takeTask(commandLine, CommandLine::Task::ListDue);
    case LongOption::CheckResults:
        return takeTask(commandLine, CommandLine::Task::CheckResults);
    case LongOption::Import:
        return takeTask(commandLine, CommandLine::Task::Import);
    }
    return std::nullopt;
}

// Takes the long option at argv[index], "--name" or "--name=value", and its value, which may be the
// next argument; the usage error when it cannot.
std::optional<std::string> takeLongOption(CommandLine& commandLine, int argc, char** argv, int& index) {
    const std::string_view argument = argv[index];
    const std::size_t equals = argument.find('=');
    const std::variant<const LongOptionName*, std::string> found =
        longOptionNamed(argument.substr(0, equals), argument);
    if (const auto* error = std::get_if<std::string>(&found))
        return *error;
    const LongOptionName& option = *std::get<const LongOptionName*>(found);
    const std::string name(option.name);
    std::string value;
    if (!option.takesValue) {
        if (equals != std::string_view::npos)
            return "option '" + name + "' doesn't allow an argument";
    } else if (equals != std::string_view::npos) {
        value = argument.substr(equals + 1);
    } else if (index + 1 < argc) {
        value = argv[++index];
    } else {
        return "option '" + name + "' requires an argument";
    }
    if (option.takesValue && value.empty())
        return "option '" + name + "' requires a non-empty argument";
    return applyOption(commandLine, option.option, std::move(value));
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

std::optional<std::chrono::seconds> parseDuration(std::string_view text) {
    std::int64_t count = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    const std::string_view unit = text.substr(static_cast<std::size_t>(end - text.data()));
    if (error != std::errc() || count <= 0 || unit.size() > 1)
        return std::nullopt;
    constexpr std::string_view Units = "smhd";
    constexpr std::int64_t Seconds[] = {1, 60, 3600, 86400};
    const std::size_t index = unit.empty() ? 0 : Units.find(unit.front());
    // Beyond a century is no limit worth keeping apart from none, and would overflow the clock.
    if (index == std::string_view::npos || count > std::int64_t{36500} * 86400 / Seconds[index])
        return std::nullopt;
    return std::chrono::seconds(count * Seconds[index]);
}

// What the options given say that the task asked for cannot do; empty when they fit.
std::string taskMisfit(const CommandLine& commandLine) {
    using Task = CommandLine::Task;
    const std::string task = taskOptionName(commandLine.task);
    switch (commandLine.task) {
    case Task::Test:
        return {};
    case Task::ListDue:
        if (commandLine.json || commandLine.verbose || commandLine.strict || commandLine.timeLimit ||
            !commandLine.reportFolder.empty())
            return "option '" + task +
                   "' prints paths: '--json', '-v', '--strict', '--time-limit' and "
                   "'--report-dir' do not apply";
        if (commandLine.paths.empty() && commandLine.fileList.empty())
            return "nothing to list: give folders, archives or '--files-from'";
        return {};
    case Task::CheckResults:
    case Task::Import:
        if (commandLine.json || commandLine.verbose || commandLine.strict || commandLine.timeLimit ||
            commandLine.dueDays || commandLine.followLinks || !commandLine.reportFolder.empty() ||
            !commandLine.fileList.empty())
            return "option '" + task + "' takes only '-0'" +
                   (commandLine.task == Task::Import ? ", '--ledger' and '-q'" : " and '-q'");
        if (commandLine.task == Task::CheckResults && commandLine.paths.size() < 2)
            return "option '" + task + "' needs a list and at least one results file";
        if (commandLine.task == Task::Import && commandLine.paths.empty())
            return "option '" + task + "' needs at least one results file";
        if (commandLine.task == Task::Import && commandLine.noLedger)
            return "option '" + task + "' needs the ledger, which '--no-ledger' turns off";
        if (commandLine.task == Task::CheckResults && (commandLine.noLedger || !commandLine.ledger.empty()))
            return "option '" + task + "' does not use the ledger";
        return {};
    }
    return {};
}

CommandLine parseCommandLine(int argc, char** argv) {
    CommandLine commandLine;
    bool optionsEnded = false;
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
        } else if (argument.starts_with("--")) {
            if (auto error = takeLongOption(commandLine, argc, argv, index))
                return usageError(std::move(*error));
            if (commandLine.request != CommandLine::Request::Run)
                return commandLine;
        } else if (argument.size() == 1) {
            return usageError("invalid option -- '-'");
        } else {
            for (const char letter : argument.substr(1)) {
                const auto option =
                    std::find_if(std::begin(ShortOptions), std::end(ShortOptions),
                                 [letter](const ShortOption& known) { return known.letter == letter; });
                if (option == std::end(ShortOptions))
                    return usageError("invalid option -- '" + std::string(1, letter) + "'");
                applyOption(commandLine, option->option, {});
                if (commandLine.request != CommandLine::Request::Run)
                    return commandLine;
            }
        }
    }
    if (const std::string misfit = taskMisfit(commandLine); !misfit.empty())
        return usageError(misfit);
    if (commandLine.nullSeparated && commandLine.fileList.empty() &&
        commandLine.task == CommandLine::Task::Test)
        return usageError("option '--null' needs a list given with '--files-from'");
    if (commandLine.noLedger && (!commandLine.ledger.empty() || commandLine.dueDays))
        return usageError(commandLine.dueDays
                              ? "option '--due' needs the ledger, which '--no-ledger' turns off"
                              : "options '--ledger' and '--no-ledger' exclude each other");
    if ((commandLine.verbose || commandLine.json || commandLine.quiet || commandLine.followLinks ||
         commandLine.strict || commandLine.dueDays || commandLine.timeLimit) &&
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
           "go beside the program when it runs from a writable folder of its own (not\n"
           "an installed copy), else into $XDG_STATE_HOME/vellum (by default\n"
           "~/.local/state/vellum).\n"
           "A path named like an option is given as ./-name or after --.\n\n"
           "  --files-from FILE  test the archives FILE names, one per line (- reads\n"
           "                     standard input); relative names start at the working folder\n"
           "  -0, --null         names in the --files-from list end in NUL, not newline\n"
           "  -v, --verbose      print each bad or unverified archive with the reason:\n"
           "                     PATH: bad: REASON\n"
           "  --json             print one JSON object per archive, then a summary object\n"
           "                     (it replaces the -v lines)\n"
           "  -q, --quiet        no progress line and no closing line (counts, time and\n"
           "                     where the reports are) on a terminal's standard error\n"
           "  --strict           count an unverified archive as bad: print it as bad and\n"
           "                     exit with status 1 (the reports still count it good)\n"
           "  -L, --follow       walk into folders that symbolic links lead to (never into\n"
           "                     a folder the walk is already inside); without it each such\n"
           "                     link is named on standard error and passed over\n"
           "  --report-dir DIR   write the reports into DIR\n"
           "  --due DAYS         test only archives that are new, changed, not good when\n"
           "                     last tested, or last tested more than DAYS days ago; the\n"
           "                     others are skipped\n"
           "  --time-limit TIME  start no archive once TIME has passed (seconds, or with\n"
           "                     m, h or d: 90m, 2h): the walk lists every archive first,\n"
           "                     and those due longest are tested first\n"
           "  --ledger FILE      keep the verdicts in FILE instead of\n"
           "                     $XDG_STATE_HOME/vellum/ledger.sqlite\n"
           "  --no-ledger        neither look up nor record verdicts\n"
           "  --memory SIZE      the most memory the decoders may have (512M, 2G, 1536MiB);\n"
           "                     an archive with an entry that needs more is unverified\n"
           "\nCollections tested on many machines (see vellum(1)):\n"
           "  --list-due         print the archives that are due (all, without --due), one\n"
           "                     per line (-0: NUL-terminated), and test nothing\n"
           "  --check-results LIST RESULTS...\n"
           "                     print the names of LIST that have no verdict in the\n"
           "                     --json results files; exit 2 if any, or if a results file\n"
           "                     is not of a complete run\n"
           "  --import RESULTS...\n"
           "                     record the verdicts of --json results files in the ledger\n"
           "                     (a verdict already there is not recorded twice)\n\n"
           "  -h, --help         show this text\n"
           "  -V, --version      show the version\n"
           "A long option may be shortened to any prefix that no other one shares (--verb).\n\n"
           "An unverified archive is sound as far as it could be checked, but some entries\n"
           "could not be (encrypted, a method without a decoder, or too little memory for\n"
           "its decoder); the reports count it as good, and so does the exit status unless\n"
           "--strict is given.\n\n"
           "Every run records each verdict in a ledger, so that the next one can tell an\n"
           "archive that went bad although nothing rewrote it, and test only what is due.\n\n"
           "Exit status:\n"
           "  0      no bad archive\n"
           "  1      bad archives found (with --strict, unverified ones too)\n"
           "  2      usage error, or a path, list or folder that could not be read, an\n"
           "         archive left unverified for want of decoder memory, or due archives\n"
           "         left when the time limit ran out (the run is incomplete)\n"
           "  3      the reports, the results or the ledger could not be written\n"
           "  128+N  interrupted by signal N\n"
           "When several apply, the highest wins. See vellum(1).\n";
}

std::string usageHint() {
    return "Try 'vellum --help' for more information.\n";
}

} // namespace vellum
