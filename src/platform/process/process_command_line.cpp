// Quoting for Windows command lines. The parser treats 2n backslashes before
// a quote as n backslashes and a delimiting quote, 2n + 1 as n and a literal
// quote, and backslashes not followed by a quote literally. So a run of
// backslashes is doubled exactly when a quote follows it, the closing quote
// included: an argument ending in '\' (a folder) would otherwise swallow it.
#include "platform/process/process.h"

namespace {

void append_quoted(std::string* line, const std::string& argument) {
    *line += '"';
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        size_t repeat = c == '"' ? backslashes * 2 + 1 : backslashes;
        line->append(repeat, '\\');
        *line += c;
        backslashes = 0;
    }
    line->append(backslashes * 2, '\\');
    *line += '"';
}

}  // namespace

std::string process_command_line(const std::vector<std::string>& argv) {
    std::string line;
    for (size_t i = 0; i < argv.size(); ++i) {
        if (i > 0) line += ' ';
        append_quoted(&line, argv[i]);
    }
    return line;
}
