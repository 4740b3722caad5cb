#pragma once

// Writing the report files so that they either land whole or say why not: a report is replaced in
// one step, a log record is appended whole or not at all, and neither follows a symbolic link or
// writes into a FIFO or a device that happens to carry the file's name.

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace vellum::platform {

struct WriteFailure {
    std::string path;   // the file or folder that could not be written or created
    std::string reason; // the system's error text, or "not a regular file"
};

// Replaces the file at `path` with `content`: the content goes to a new file in the same folder
// (mode 0666 less the umask, as a plain create gives), is flushed to disk and then renamed over
// `path`. Refuses when something other than a regular file is at `path`. On any failure the old
// file is left as it was and no temporary file stays behind.
[[nodiscard]] std::optional<WriteFailure> replaceFile(const std::string& path, std::string_view content);

// Appends `record` to the file at `path`, creating it when missing, under an exclusive lock so that
// records of several processes never interleave. A file whose last byte is not a line feed gets a
// CR LF first, so the record starts on a line of its own. Refuses anything but a regular file (a
// symbolic link included). A record that cannot be written whole is cut off again, so the file
// keeps its earlier content.
[[nodiscard]] std::optional<WriteFailure> appendRecord(const std::string& path, std::string_view record);

struct ReportFolder {
    std::string path;                    // where the reports go, or would go
    std::optional<WriteFailure> failure; // set when that folder cannot take them
};

// The folder the report files go to:
//   1. `explicitFolder` when it is not empty, created with its parents when missing;
//   2. otherwise `applicationFolder` when this process may create files in it and the program is
//      not an installed one (see isInstalledProgram);
//   3. otherwise $XDG_STATE_HOME/vellum (only an absolute $XDG_STATE_HOME counts), or else
//      $HOME/.local/state/vellum (the user database's home when $HOME is not set), created with
//      its parents, private to the user; with no home at all, a writable `applicationFolder`.
// With `create` false nothing is created: the answer is the folder that would be used, and a
// missing folder is not a failure.
// Makes `folder` (absolute, without a trailing '/') and every missing folder above it with `mode`;
// answers 0, or the errno value of the first that could neither be made nor found.
int createFolders(const std::string& folder, mode_t mode);

// $XDG_STATE_HOME/vellum (only an absolute $XDG_STATE_HOME counts), else
// $HOME/.local/state/vellum; empty when the user has no home at all.
std::string stateFolder();

[[nodiscard]] ReportFolder chooseReportFolder(const std::string& applicationFolder,
                                              const std::string& explicitFolder, bool create);

} // namespace vellum::platform
