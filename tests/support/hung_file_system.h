#pragma once

// A FUSE file system whose reads do not return, as a network or FUSE file system that has hung: the
// file archives/stuck.zip reads nothing, and the folder folders/stuck lists nothing, until the file
// system is released, and then they fail. Mounting needs /dev/fuse and the right to mount (root); a
// test that cannot have them is skipped.

#include <QString>
#include <QTemporaryDir>

#include <condition_variable>
#include <mutex>
#include <thread>

struct fuse;

namespace vellum::testing {

class HungFileSystem final {
public:
    HungFileSystem();
    ~HungFileSystem();
    HungFileSystem(const HungFileSystem&) = delete;
    HungFileSystem& operator=(const HungFileSystem&) = delete;

    bool mounted() const { return m_fuse != nullptr; }
    QString path() const { return m_mountPoint.path(); }
    // How many reads and listings are waiting in the file system now.
    int stuckCalls() const;
    // Lets every waiting and later call fail at once.
    void release();

    // The file system's side, called on its own threads.
    int waitUntilReleased();

private:
    QTemporaryDir m_mountPoint;
    fuse* m_fuse = nullptr;
    std::thread m_loop;
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_releasing = false;
    int m_stuckCalls = 0;
};

} // namespace vellum::testing
