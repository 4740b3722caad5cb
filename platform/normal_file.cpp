#include "normal_file.h"

#include <sys/stat.h>

#include <string_view>

namespace vellum::platform {

bool normalFileExists(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view name =
        slash == std::string::npos ? std::string_view(path) : std::string_view(path).substr(slash + 1);
    if (name.empty() || name.front() == '.')
        return false;
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

} // namespace vellum::platform
