#include "file_list.h"

#include "base/path_open.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>

namespace vellum {

namespace {

constexpr int WaitSliceMilliseconds = 100;
constexpr std::size_t ReadSize = 64 * 1024;
// A name of this many bytes or more names no file: the system's limit counts the closing NUL.
constexpr std::size_t NameLimit = PATH_MAX;

} // namespace

FileList::FileList(const std::string& path, char separator) : m_separator(separator) {
    if (path == "-") {
        m_descriptor = STDIN_FILENO;
    } else {
        m_descriptor = openPathOfAnyLength(path, O_RDONLY);
        m_ownsDescriptor = m_descriptor >= 0;
    }
    if (m_descriptor < 0) {
        m_error = errno;
        m_ended = true;
    }
}

FileList::~FileList() {
    if (m_ownsDescriptor)
        ::close(m_descriptor);
}

std::string FileList::failure() const {
    return m_refusal != nullptr ? m_refusal : std::strerror(m_error);
}

void FileList::refuse(const char* reason) {
    m_refusal = reason;
    m_ended = true;
    m_pending.clear();
    m_taken = 0;
    m_scanned = 0;
}

bool FileList::takeName(std::string& name) {
    while (true) {
        const std::size_t end = m_pending.find(m_separator, std::max(m_taken, m_scanned));
        if ((end == std::string::npos ? m_pending.size() : end) - m_taken >= NameLimit) {
            refuse("a name in the list is as long as the system's path limit or longer");
            return false;
        }
        if (end == std::string::npos) {
            // What was taken goes at once, so that the buffer holds only the name still arriving.
            m_pending.erase(0, m_taken);
            m_taken = 0;
            m_scanned = m_pending.size();
            // The last name of a list need not end in a separator.
            if (!m_ended || m_pending.empty())
                return false;
            name = std::move(m_pending);
            m_pending.clear();
            m_scanned = 0;
            return true;
        }
        name.assign(m_pending, m_taken, end - m_taken);
        m_taken = end + 1;
        if (!name.empty())
            return true;
    }
}

bool FileList::fill(bool wait, const std::function<bool()>& keepWaiting, bool& stopped) {
    pollfd ready{m_descriptor, POLLIN, 0};
    while (true) {
        const int answer = ::poll(&ready, 1, wait ? WaitSliceMilliseconds : 0);
        if (answer > 0)
            break;
        if (answer < 0 && errno != EINTR) {
            m_error = errno;
            m_ended = true;
            return true;
        }
        if (!wait)
            return false;
        if (keepWaiting && !keepWaiting()) {
            stopped = true;
            return false;
        }
    }
    std::array<char, ReadSize> buffer;
    ssize_t count = 0;
    do {
        count = ::read(m_descriptor, buffer.data(), buffer.size());
    } while (count < 0 && errno == EINTR);
    if (count < 0) {
        m_error = errno;
        m_ended = true;
    } else if (count == 0) {
        m_ended = true;
    } else if (m_separator != '\0' &&
               std::memchr(buffer.data(), '\0', static_cast<std::size_t>(count)) != nullptr) {
        refuse("the list holds NUL bytes: use -0");
    } else {
        m_pending.append(buffer.data(), static_cast<std::size_t>(count));
    }
    return true;
}

FileList::Step FileList::next(std::string& name, bool wait, const std::function<bool()>& keepWaiting) {
    for (bool filled = false;; filled = true) {
        if (takeName(name))
            return Step::Name;
        if (m_ended) {
            m_pending.clear();
            m_taken = 0;
            return m_error != 0 || m_refusal != nullptr ? Step::Failed : Step::End;
        }
        // A list that flows without names (a stream of empty ones) still lets a stop be heard.
        if (filled && keepWaiting && !keepWaiting())
            return Step::Stopped;
        bool stopped = false;
        if (!fill(wait, keepWaiting, stopped))
            return stopped ? Step::Stopped : Step::End;
    }
}

} // namespace vellum
