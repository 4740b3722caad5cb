#include "file_list.h"

#include "base/path_open.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace vellum {

namespace {

constexpr int WaitSliceMilliseconds = 100;
constexpr std::size_t ReadSize = 64 * 1024;

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

bool FileList::takeName(std::string& name) {
    while (true) {
        const std::size_t end = m_pending.find(m_separator, m_scanned);
        if (end == std::string::npos) {
            m_scanned = m_pending.size();
            // The last name of a list need not end in a separator.
            if (!m_ended || m_pending.empty())
                return false;
            name = std::move(m_pending);
            m_pending.clear();
            m_scanned = 0;
            return true;
        }
        name.assign(m_pending, 0, end);
        m_pending.erase(0, end + 1);
        m_scanned = 0;
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
    } else {
        m_pending.append(buffer.data(), static_cast<std::size_t>(count));
    }
    return true;
}

FileList::Step FileList::next(std::string& name, bool wait, const std::function<bool()>& keepWaiting) {
    while (true) {
        if (takeName(name))
            return Step::Name;
        if (m_ended) {
            m_pending.clear();
            return m_error != 0 ? Step::Failed : Step::End;
        }
        bool stopped = false;
        if (!fill(wait, keepWaiting, stopped))
            return stopped ? Step::Stopped : Step::End;
    }
}

} // namespace vellum
