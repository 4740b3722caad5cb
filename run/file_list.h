#pragma once

// A list of files to test, read one name at a time from a file or from standard input: names end
// in a newline, or in a NUL byte for lists made by `find -print0` (names that may hold newlines).
// Empty names are skipped. A list that arrives slowly through a pipe is waited for without
// blocking the caller: while no whole name is there, the caller is asked every tenth of a second
// whether to keep waiting, and after every block read that held no name, so that its window and
// its signals are still served however the list arrives.
//
// A list is refused, as a list that cannot be read is, when it holds what no list of names does: a
// NUL byte in a newline-separated list (it was written by find -print0, and its first name would
// run into the others), or a name as long as the system's path limit (a list that never ends a
// name would otherwise be kept in memory without end).

#include <functional>
#include <string>
#include <vector>

namespace vellum {

class FileList {
public:
    // Opens path, or standard input for "-". See error() for a list that cannot be opened.
    FileList(const std::string& path, char separator);
    ~FileList();
    FileList(const FileList&) = delete;
    FileList& operator=(const FileList&) = delete;

    enum class Step { Name, End, Stopped, Failed };

    // The next name. With wait false it answers End as soon as no whole name is at hand without
    // waiting (check atEnd() to tell a real end); keepWaiting is asked while it waits.
    Step next(std::string& name, bool wait, const std::function<bool()>& keepWaiting);
    bool atEnd() const { return m_ended && m_pending.empty(); }

    // Why the list could not be opened or read, or was refused, after Step::Failed.
    std::string failure() const;

private:
    bool takeName(std::string& name);
    void refuse(const char* reason);
    bool fill(bool wait, const std::function<bool()>& keepWaiting, bool& stopped);

    int m_descriptor = -1;
    bool m_ownsDescriptor = false;
    char m_separator;
    std::string m_pending;     // bytes read and not yet given out as names
    std::size_t m_taken = 0;   // how many of them were given out (or skipped as empty names)
    std::size_t m_scanned = 0; // how far they hold no separator
    bool m_ended = false;
    int m_error = 0;                 // errno of a failure to open or read the list
    const char* m_refusal = nullptr; // why the list's content was refused
};

} // namespace vellum
