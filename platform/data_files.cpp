#include "data_files.h"

#include "normal_file.h"

#include <sys/stat.h>

namespace vellum::platform {

namespace {

// share/vellum next to the program's bin folder, wherever the prefix lies.
std::string prefixDataFolder(const std::string& applicationFolder) {
    return applicationFolder.substr(0, applicationFolder.rfind('/')) + "/share/vellum";
}

} // namespace

std::string dataFilePath(const std::string& applicationFolder, const std::string& name) {
    const std::string beside = applicationFolder + "/" + name;
    for (const std::string& candidate : {beside, prefixDataFolder(applicationFolder) + "/" + name,
                                         std::string(VELLUM_INSTALLED_DATA_FOLDER) + "/" + name}) {
        if (normalFileExists(candidate))
            return candidate;
    }
    return beside;
}

bool isInstalledProgram(const std::string& applicationFolder) {
    struct stat status {};
    return ::stat(prefixDataFolder(applicationFolder).c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace vellum::platform
