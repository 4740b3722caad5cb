#define FUSE_USE_VERSION 31
#include "hung_file_system.h"

#include <fuse.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace vellum::testing {

namespace {

constexpr off_t StuckFileSize = 4096;

HungFileSystem& fileSystem() {
    return *static_cast<HungFileSystem*>(fuse_get_context()->private_data);
}

bool isFolder(std::string_view path) {
    return path == "/" || path == "/archives" || path == "/folders" || path == "/folders/stuck";
}

int statusOf(const char* path, struct stat* status, fuse_file_info*) {
    std::memset(status, 0, sizeof *status);
    if (isFolder(path)) {
        status->st_mode = S_IFDIR | 0755;
        status->st_nlink = 2;
    } else if (std::string_view(path) == "/archives/stuck.zip") {
        status->st_mode = S_IFREG | 0644;
        status->st_nlink = 1;
        status->st_size = StuckFileSize;
    } else {
        return -ENOENT;
    }
    return 0;
}

int list(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags) {
    const std::string_view folder(path);
    if (folder == "/folders/stuck")
        return fileSystem().waitUntilReleased();
    fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
    fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
    if (folder == "/") {
        fill(buffer, "archives", nullptr, 0, fuse_fill_dir_flags{});
        fill(buffer, "folders", nullptr, 0, fuse_fill_dir_flags{});
    } else if (folder == "/archives") {
        fill(buffer, "stuck.zip", nullptr, 0, fuse_fill_dir_flags{});
    } else if (folder == "/folders") {
        fill(buffer, "stuck", nullptr, 0, fuse_fill_dir_flags{});
    }
    return 0;
}

int read(const char*, char*, size_t, off_t, fuse_file_info*) {
    return fileSystem().waitUntilReleased();
}

} // namespace

HungFileSystem::HungFileSystem() {
    fuse_operations operations{};
    operations.getattr = statusOf;
    operations.readdir = list;
    operations.read = read;
    char program[] = "hung-file-system";
    char* arguments[] = {program, nullptr};
    fuse_args args = FUSE_ARGS_INIT(1, arguments);
    m_fuse = fuse_new(&args, &operations, sizeof operations, this);
    fuse_opt_free_args(&args);
    if (m_fuse == nullptr)
        return;
    if (::access("/dev/fuse", R_OK | W_OK) != 0 ||
        fuse_mount(m_fuse, path().toLocal8Bit().constData()) != 0) {
        fuse_destroy(m_fuse);
        m_fuse = nullptr;
        return;
    }
    m_loop = std::thread([this] { fuse_loop_mt(m_fuse, 0); });
}

HungFileSystem::~HungFileSystem() {
    if (m_fuse == nullptr)
        return;
    release();
    fuse_exit(m_fuse);
    // Unmounting ends the loop's wait for the next request.
    fuse_unmount(m_fuse);
    m_loop.join();
    fuse_destroy(m_fuse);
}

void HungFileSystem::release() {
    {
        const std::lock_guard lock(m_mutex);
        m_releasing = true;
    }
    m_released.notify_all();
}

int HungFileSystem::stuckCalls() const {
    const std::lock_guard lock(m_mutex);
    return m_stuckCalls;
}

int HungFileSystem::waitUntilReleased() {
    std::unique_lock lock(m_mutex);
    ++m_stuckCalls;
    m_released.wait(lock, [this] { return m_releasing; });
    --m_stuckCalls;
    return -EIO;
}

} // namespace vellum::testing
