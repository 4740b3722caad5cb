#include "report_file.h"

#include "data_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <system_error>

namespace vellum::platform {

namespace {

constexpr const char* notRegularFile = "not a regular file";

WriteFailure failureOf(const std::string& path, int error) {
    // The category's message comes from strerror_r, so it is safe while other threads fail too.
    return {path, std::system_category().message(error)};
}

// A name that failed to open may be held by a link (ELOOP under O_NOFOLLOW), a folder (EISDIR)
// or a FIFO without a reader (ENXIO); the user learns more from what is there than from the code.
WriteFailure openFailure(const std::string& path, int error) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
        return {path, notRegularFile};
    return failureOf(path, error);
}

class Descriptor {
public:
    explicit Descriptor(int descriptor) : m_descriptor(descriptor) {}
    ~Descriptor() { close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return m_descriptor; }

    // Answers 0 or the error. Linux releases the descriptor even when close fails, so it is never
    // closed twice.
    int close() {
        if (m_descriptor < 0)
            return 0;
        const int result = ::close(m_descriptor);
        m_descriptor = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int m_descriptor;
};

// Answers 0 or the error of the write that failed.
int writeAll(int descriptor, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(descriptor, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        // A regular file that takes nothing has no room left, whatever the cause.
        if (written == 0)
            return ENOSPC;
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

mode_t currentUmask() {
    // umask() can only be read by setting it, which would race with files other threads create;
    // the process status shows it without a change.
    if (std::FILE* status = std::fopen("/proc/self/status", "re"); status != nullptr) {
        std::array<char, 256> line{};
        unsigned int mask = 0;
        bool found = false;
        while (!found && std::fgets(line.data(), static_cast<int>(line.size()), status) != nullptr)
            found = std::sscanf(line.data(), "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found)
            return static_cast<mode_t>(mask);
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// The folder part of `path` with its trailing '/', or empty for a bare name.
std::string folderPart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Makes a finished rename survive a crash. The new file is already in place when this fails, so
// the failure is not the caller's concern.
void syncFolder(const std::string& folder) {
    const int descriptor = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return;
    ::fsync(descriptor);
    ::close(descriptor);
}

// Whether the record written at `size` follows a line end. Without read access (a log that is
// write-only for this user) the last byte cannot be seen, and the record goes on as it is.
bool endsWithLineFeed(int descriptor, off_t size) {
    if (size == 0)
        return true;
    char last = '\n';
    ssize_t count = 0;
    do
        count = ::pread(descriptor, &last, 1, size - 1);
    while (count < 0 && errno == EINTR);
    return count != 1 || last == '\n';
}

// Answers 0, or the error that keeps this process from creating files in `folder` with its
// effective ids (the ones file creation uses).
int folderWriteError(const std::string& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0)
        return errno;
    if (!S_ISDIR(status.st_mode))
        return ENOTDIR;
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return errno;
    return 0;
}

ReportFolder preparedFolder(const std::string& folder, mode_t mode, bool create) {
    if (create) {
        if (const int error = createFolders(folder, mode); error != 0)
            return {folder, failureOf(folder, error)};
    }
    const int error = folderWriteError(folder);
    if (error == 0 || (error == ENOENT && !create))
        return {folder, std::nullopt};
    return {folder, failureOf(folder, error)};
}

} // namespace

int createFolders(const std::string& folder, mode_t mode) {
    for (std::size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const std::string part = folder.substr(0, end);
        if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
            return errno;
        if (end == std::string::npos)
            return 0;
    }
}

std::string stateFolder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && state[0] == '/')
        return std::string(state) + "/vellum";
    std::string home;
    if (const char* variable = std::getenv("HOME"); variable != nullptr && variable[0] != '\0')
        home = variable;
    else if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_dir != nullptr)
        home = entry->pw_dir;
    return home.empty() ? std::string() : home + "/.local/state/vellum";
}

namespace {

// Removes what earlier replacements of `name` left in `folder` when they were killed between
// writing their file and renaming it: files of this user named like ours, older than any write
// still under way could be.
void removeStaleReplacements(const std::string& folder, const std::string& name) {
    DIR* listing = ::opendir(folder.empty() ? "." : folder.c_str());
    if (listing == nullptr)
        return;
    const std::string prefix = "." + name + ".";
    const std::time_t staleBefore = std::time(nullptr) - 60;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view found(entry->d_name);
        if (!found.starts_with(prefix) || found.size() != prefix.size() + 6)
            continue;
        struct stat status {};
        if (::fstatat(::dirfd(listing), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode) && status.st_uid == ::geteuid() && status.st_mtime < staleBefore)
            ::unlinkat(::dirfd(listing), entry->d_name, 0);
    }
    ::closedir(listing);
}

} // namespace

std::optional<WriteFailure> replaceFile(const std::string& path, std::string_view content) {
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0) {
        // A rename would put the report in place of a link, a folder or a FIFO someone set there.
        if (!S_ISREG(existing.st_mode))
            return WriteFailure{path, notRegularFile};
    } else if (errno != ENOENT) {
        return failureOf(path, errno);
    }

    const std::string folder = folderPart(path);
    removeStaleReplacements(folder, path.substr(folder.size()));
    std::string temporaryPath = folder + "." + path.substr(folder.size()) + ".XXXXXX";
    Descriptor file(::mkostemp(temporaryPath.data(), O_CLOEXEC));
    if (file.get() < 0)
        return failureOf(path, errno);

    const auto writeError = [&] {
        // mkostemp gives 0600; the report is meant to be as readable as any file the user creates.
        if (::fchmod(file.get(), 0666 & ~currentUmask()) != 0)
            return errno;
        if (const int error = writeAll(file.get(), content); error != 0)
            return error;
        // Without the flush a crash after the rename could leave an empty report in the old one's place.
        if (::fsync(file.get()) != 0)
            return errno;
        if (const int error = file.close(); error != 0)
            return error;
        return ::rename(temporaryPath.c_str(), path.c_str()) == 0 ? 0 : errno;
    }();
    if (writeError != 0) {
        ::unlink(temporaryPath.c_str());
        return failureOf(path, writeError);
    }
    syncFolder(folder);
    return std::nullopt;
}

std::optional<WriteFailure> appendRecord(const std::string& path, std::string_view record) {
    // O_NONBLOCK keeps the open of a FIFO from waiting for a reader; for a regular file it changes
    // nothing. Reading is asked for only to see the last byte, so a write-only log is still written.
    constexpr int flags = O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int opened = ::open(path.c_str(), O_RDWR | flags, 0666);
    if (opened < 0 && errno == EACCES)
        opened = ::open(path.c_str(), O_WRONLY | flags, 0666);
    if (opened < 0)
        return openFailure(path, errno);
    Descriptor file(opened);

    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        return failureOf(path, errno);
    if (!S_ISREG(status.st_mode))
        return WriteFailure{path, notRegularFile};

    // A file system without locks still gets the record: an append write lands whole at the end
    // either way, and only the look at the last byte goes unguarded.
    while (::flock(file.get(), LOCK_EX) != 0 && errno == EINTR) {
    }
    // The size is taken under the lock, as another process may have appended while this one waited.
    if (::fstat(file.get(), &status) != 0)
        return failureOf(path, errno);
    const off_t sizeBefore = status.st_size;

    std::string separated;
    std::string_view text = record;
    if (!endsWithLineFeed(file.get(), sizeBefore)) {
        separated = "\r\n";
        separated += record;
        text = separated;
    }
    if (const int error = writeAll(file.get(), text); error != 0) {
        // Part of the record may be in the file; the next record must not follow a torn one.
        while (::ftruncate(file.get(), sizeBefore) != 0 && errno == EINTR) {
        }
        return failureOf(path, error);
    }
    if (const int error = file.close(); error != 0)
        return failureOf(path, error);
    return std::nullopt;
}

ReportFolder chooseReportFolder(const std::string& applicationFolder, const std::string& explicitFolder,
                                bool create) {
    if (!explicitFolder.empty())
        return preparedFolder(explicitFolder, 0777, create);

    const int applicationError = applicationFolder.empty() ? ENOENT : folderWriteError(applicationFolder);
    // An installed program's folder (~/.local/bin, say) holds programs, not what their runs found.
    const bool installed = !applicationFolder.empty() && isInstalledProgram(applicationFolder);
    if (applicationError == 0 && !installed)
        return {applicationFolder, std::nullopt};

    const std::string state = stateFolder();
    if (state.empty()) {
        // A user without any home still gets the reports where the program can put them.
        if (applicationError == 0)
            return {applicationFolder, std::nullopt};
        return {applicationFolder, failureOf(applicationFolder, applicationError)};
    }
    // The state folder holds what the user's runs found; other users have no business there.
    return preparedFolder(state, 0700, create);
}

} // namespace vellum::platform
