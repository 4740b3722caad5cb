#include "escaped_text.h"
#include "program_folder.h"
#include "window_start.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace vellum {

namespace {

constexpr char moduleName[] = "libvellum-window.so";

void tellWindowCannotOpen(const std::string& reason) {
    std::fprintf(stderr, "vellum: cannot open the window: %s\n", platform::escapedText(reason).c_str());
}

} // namespace

int runWindowModule(WindowStart& start) {
    // Beside the program in a build tree; in the installed library folder, found from the program's
    // own bin folder, wherever the whole was installed.
    const std::string folder = platform::applicationFolder();
    const std::string beside = folder + "/" + moduleName;
    const std::string installed = folder + "/" VELLUM_WINDOW_MODULE_FROM_PROGRAM "/" + moduleName;
    std::string path;
    for (const std::string& candidate : {beside, installed}) {
        if (::access(candidate.c_str(), F_OK) == 0) {
            path = candidate;
            break;
        }
    }
    if (path.empty()) {
        tellWindowCannotOpen("its module " + installed + " is missing");
        return 2;
    }
    // The module is never unloaded: Qt cannot be, and the program ends soon after the window.
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* error = ::dlerror();
        tellWindowCannotOpen(error != nullptr ? error : "cannot load " + path);
        return 2;
    }
    const auto windowMain =
        reinterpret_cast<decltype(&vellum_window_main)>(::dlsym(module, "vellum_window_main"));
    if (windowMain == nullptr) {
        tellWindowCannotOpen(path + " has no window in it");
        return 2;
    }
    return windowMain(start);
}

} // namespace vellum
