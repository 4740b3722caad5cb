#include "absolute_path.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace vellum {

namespace {

std::string workingFolder() {
    // The working folder may be deeper than any fixed buffer.
    std::string buffer(256, '\0');
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

} // namespace

std::string absolutePath(const std::string& path) {
    std::string joined = path;
    if (!path.starts_with('/')) {
        const std::string working = workingFolder();
        if (working.empty())
            return path; // the working folder is gone; the path can only be used as given
        joined = working + "/" + path;
    }
    std::string clean;
    std::size_t at = 0;
    while (at < joined.size()) {
        std::size_t end = joined.find('/', at);
        if (end == std::string::npos)
            end = joined.size();
        const std::string_view step = std::string_view(joined).substr(at, end - at);
        if (!step.empty() && step != ".") {
            clean += '/';
            clean += step;
        }
        at = end + 1;
    }
    if (clean.empty() || joined.ends_with('/') || joined.ends_with("/."))
        clean += '/';
    return clean;
}

} // namespace vellum
