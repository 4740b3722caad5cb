#include "data_files.h"

#include "normal_file.h"

namespace vellum::platform {

std::string dataFilePath(const std::string& applicationFolder, const std::string& name) {
    const std::string beside = applicationFolder + "/" + name;
    const std::string prefix = applicationFolder.substr(0, applicationFolder.rfind('/'));
    for (const std::string& candidate :
         {beside, prefix + "/share/vellum/" + name, std::string(VELLUM_INSTALLED_DATA_FOLDER) + "/" + name}) {
        if (normalFileExists(candidate))
            return candidate;
    }
    return beside;
}

} // namespace vellum::platform
