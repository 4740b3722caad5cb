#pragma once

// The program's own read-only viewer, for a report, the log or the manual that the desktop could
// not show. A web page (*.html, *.htm) is shown formatted, anything else as plain text; a long file
// by its end, where a log keeps its newest records. Close and Escape close it, and it deletes itself
// on closing.

#include <QDialog>

#include <cstddef>
#include <string>

namespace vellum {

namespace platform {
struct FileTail;
}

class FileViewer final : public QDialog {
public:
    // Shows the file at `path` (bytes, as the file system names it) in a new viewer over `owner`.
    // A file that cannot be read is named in a message box instead, and the answer is null.
    static FileViewer* showFile(const std::string& path, QWidget* owner);

    // The most of a file that is read; of a longer one, only its end is shown.
    static constexpr std::size_t shownBytes = std::size_t{8} << 20;

private:
    FileViewer(const std::string& path, const platform::FileTail& content, QWidget* owner);
};

} // namespace vellum
