#pragma once

// What this process writes on standard error while a capture lasts, kept in an unnamed file.

#include <QByteArray>

#include <unistd.h>

#include <cstdio>

namespace vellum::testing {

class StandardErrorCapture {
public:
    StandardErrorCapture() { ::dup2(::fileno(m_file), STDERR_FILENO); }
    ~StandardErrorCapture() {
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        std::fclose(m_file);
    }
    Q_DISABLE_COPY(StandardErrorCapture)

    // Read without moving the offset at which standard error goes on writing.
    QByteArray text() const {
        std::fflush(stderr);
        QByteArray content(1 << 16, '\0');
        return content.left(::pread(::fileno(m_file), content.data(), content.size(), 0));
    }

private:
    int m_saved = (std::fflush(stderr), ::dup(STDERR_FILENO));
    std::FILE* m_file = std::tmpfile();
};

} // namespace vellum::testing
