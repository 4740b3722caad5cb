#include "text_file.h"

namespace vellum::platform {

TextFile::~TextFile() {
    close();
}

bool TextFile::open(const std::string& path, Mode mode) {
    // Opening again starts over with the new file, as a second open of the same handle would.
    close();
    // Binary mode keeps the CR LF endings exactly as written.
    m_file = std::fopen(path.c_str(), mode == Mode::Output ? "wb" : "ab");
    return m_file != nullptr;
}

bool TextFile::writeLine(std::string_view line) {
    if (m_file == nullptr)
        return false;
    static constexpr char lineEnd[] = {'\r', '\n'};
    const bool textWritten = line.empty() || std::fwrite(line.data(), 1, line.size(), m_file) == line.size();
    const bool endWritten = std::fwrite(lineEnd, 1, sizeof lineEnd, m_file) == sizeof lineEnd;
    return textWritten && endWritten;
}

bool TextFile::close() {
    // Closing a file that is not open has nothing to fail at.
    if (m_file == nullptr)
        return true;
    // Buffered data is written by fclose, so a full disk often shows only here.
    const bool hadError = std::ferror(m_file) != 0;
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    return closed && !hadError;
}

} // namespace vellum::platform
