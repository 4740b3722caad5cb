#include "data_files.h"

#include <sys/stat.h>

namespace vellum::platform {

namespace {

bool isRegularFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

} // namespace

std::string dataFilePath(const std::string& applicationFolder, const std::string& name) {
    const std::string beside = applicationFolder + "/" + name;
    const std::string prefix = applicationFolder.substr(0, applicationFolder.rfind('/'));
    for (const std::string& candidate :
         {beside, prefix + "/share/vellum/" + name, std::string(VELLUM_INSTALLED_DATA_FOLDER) + "/" + name}) {
        if (isRegularFile(candidate))
            return candidate;
    }
    return beside;
}

} // namespace vellum::platform
