// Writes platform/lower_case_table.inc from Qt's own lower case, so that the names the window shows
// are lowered as they were when Qt lowered them, without the window's libraries in the command-line
// program. Run it again when Qt's Unicode data changes; platform_lower_case_test says when it has.
//   lower_case_table_writer > platform/lower_case_table.inc

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdio>

int main() {
    std::puts("// Made by tests/platform/lower_case_table_writer.cpp from Qt " QT_VERSION_STR
              "; do not edit.");
    std::puts("// Each code point whose lower case differs: the code point, then its lower case, one code");
    std::puts("// point or two (the second 0 when there is one only).");
    for (char32_t codePoint = 0x80; codePoint <= 0x10FFFF; ++codePoint) {
        if (codePoint >= 0xD800 && codePoint <= 0xDFFF)
            continue;
        // Between two letters, so that nothing at the start or end of the text plays a part.
        const char32_t around[] = {U'a', codePoint, U'a'};
        const QList<uint> lowered = QString::fromUcs4(around, 3).toLower().toUcs4();
        if (lowered.size() == 3 && lowered[1] == codePoint)
            continue;
        if (lowered.size() < 3 || lowered.size() > 4 || lowered.front() != U'a' || lowered.back() != U'a') {
            std::fprintf(stderr, "lower case of U+%04X is not one or two code points\n",
                         static_cast<unsigned>(codePoint));
            return 1;
        }
        std::printf("{0x%04X, 0x%04X, 0x%04X},\n", static_cast<unsigned>(codePoint), lowered[1],
                    lowered.size() == 4 ? lowered[2] : 0u);
    }
    return 0;
}
