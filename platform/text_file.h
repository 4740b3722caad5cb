#pragma once

// A sequential text file written line by line, every line ending in CR LF. Each step answers
// whether it worked, so that a caller can skip a failing step and go on with the next one.

#include <cstdio>
#include <string>
#include <string_view>

namespace vellum::platform {

class TextFile {
public:
    enum class Mode { Output, Append }; // Output empties the file; Append writes at its end.

    TextFile() = default;
    ~TextFile();
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    bool open(const std::string& path, Mode mode);
    bool writeLine(std::string_view line);
    bool close();
    bool isOpen() const { return m_file != nullptr; }

private:
    std::FILE* m_file = nullptr;
};

} // namespace vellum::platform
