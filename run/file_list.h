#pragma once

// A list of files to test, read one name at a time from a file or from standard input: names end
// in a newline, or in a NUL byte for lists made by `find -print0` (names that may hold newlines).
// Empty names are skipped. A list that arrives slowly through a pipe is waited for without
// blocking the caller: while no whole name is there, the caller is asked every tenth of a second
// whether to keep waiting, so that its window and its signals are still served.

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

    // errno of the failure to open or read the list; 0 when none.
    int error() const { return m_error; }

private:
    bool takeName(std::string& name);
    bool fill(bool wait, const std::function<bool()>& keepWaiting, bool& stopped);

    int m_descriptor = -1;
    bool m_ownsDescriptor = false;
    char m_separator;
    std::string m_pending; // bytes read that do not yet end in a separator
    std::size_t m_scanned = 0;
    bool m_ended = false;
    int m_error = 0;
};

} // namespace vellum
