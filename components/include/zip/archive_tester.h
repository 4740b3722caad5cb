#pragma once

// What a caller drives of the archive component: its properties, its two operations, the archives
// it may test ahead, and its events. The program's run talks to this interface; ZipTester is the
// real component and tests put scripted stand-ins in its place.
//
//   probeArchive()   checks the archive's structure (end record, zip64 records, central directory,
//                    every local header against its central record, entry spans) and decompresses
//                    the entries whose names match fileFilter (none when it is empty).
//   verifyArchive()  checks the structure again and decompresses every entry whose name matches
//                    fileFilter (every entry when it is empty), checking CRC-32 and sizes.
//
// Both run on the calling thread and answer a result code of zip_result.h; judgeArchive there
// turns the two codes into a verdict. While they work they call onYield at least every 50 ms, so
// that the caller's window stays responsive and may request an abort, and raise onStatus with the
// completion percentage of the operation. Neither throws. The abort property is cleared when an
// operation starts: an abort left over from an earlier operation, or set while none ran, does not
// end the next one.

#include "zip/file_identity.h"
#include "zip/zip_faults.h"
#include "zip/zip_result.h"
#include "zip/zip_status.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vellum {

// The settings of the probe and the verify a caller means to run on the archives it announces.
struct ArchiveTestPlan {
    std::string probeFilter;
    std::string verifyFilter;
    bool stopAtFirstFault = false;

    bool operator==(const ArchiveTestPlan&) const = default;
};

class ArchiveTester {
public:
    virtual ~ArchiveTester() = default;

    // Properties, read when an operation starts.
    bool stopAtFirstFault = false; // true: stop at the first damaged entry instead of checking them all
    std::string archiveName;       // the archive as the caller shows it (it may be lower-cased)
    std::string archivePath;       // the file to open, as the file system names it; empty: archiveName
    std::string fileFilter;
    // Read by an operation after each yield; true ends it with 190 (aborted).
    bool abort = false;

    // Events, raised on the calling thread while an operation works.
    std::function<void(const ZipStatus&)> onStatus;
    std::function<void()> onYield;

    virtual std::int16_t probeArchive() = 0;
    virtual std::int16_t verifyArchive() = 0;

    // Every fault the last operation found, archive-level or entry-level, in the order found; each
    // entry fault carries its entry's name. A stand-in that keeps no faults answers an empty list.
    virtual const std::vector<ZipFault>& lastFaults() const {
        static const std::vector<ZipFault> none;
        return none;
    }
    // The identity of the file the last operation tested, as it was when it was read: none when it
    // could not be opened, or for a stand-in that does not open files.
    virtual std::optional<FileIdentity> lastFileIdentity() const { return std::nullopt; }

    // Announces the archives the caller is about to test, in order, as it will name them in
    // archivePath, and the settings it will test them with. The component may start on them at
    // once, so that a probe and verify of each with those settings answer with an outcome already
    // found. A new announcement replaces the previous one.
    virtual void expectArchives(std::vector<std::string> paths, const ArchiveTestPlan& plan) = 0;
    // Announces archives the caller will test after those already announced, whose work goes on.
    virtual void expectMoreArchives(std::vector<std::string> paths, const ArchiveTestPlan& plan) = 0;
    // Drops whatever was announced and stops the work on it: nothing goes on testing in the
    // background once the caller has given up on those archives.
    virtual void dropExpectedArchives() = 0;

    // Stops the operation under way at its next yield and drops what was announced.
    void requestAbort() {
        abort = true;
        dropExpectedArchives();
    }
};

} // namespace vellum
