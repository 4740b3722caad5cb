#include "display_probe.h"

#include <xcb/xcb.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace vellum {

namespace {

bool environmentHas(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

bool x11DisplayAnswers() {
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screen);
    const bool connected = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return connected;
}

bool waylandDisplayAnswers() {
    std::string path = std::getenv("WAYLAND_DISPLAY");
    if (!path.starts_with('/')) {
        const char* runtimeFolder = std::getenv("XDG_RUNTIME_DIR");
        if (runtimeFolder == nullptr)
            return false;
        path = std::string(runtimeFolder) + "/" + path;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return false;
    const bool connected =
        ::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(socket);
    return connected;
}

} // namespace

DisplayReach probeDisplay() {
    if (environmentHas("QT_QPA_PLATFORM"))
        return DisplayReach::Usable;
    const bool x11Named = environmentHas("DISPLAY");
    const bool waylandNamed = environmentHas("WAYLAND_DISPLAY");
    if (!x11Named && !waylandNamed)
        return DisplayReach::Missing;
    if ((x11Named && x11DisplayAnswers()) || (waylandNamed && waylandDisplayAnswers()))
        return DisplayReach::Usable;
    return DisplayReach::Unreachable;
}

} // namespace vellum
