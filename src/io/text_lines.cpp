#include "io/text_lines.h"

namespace eqsim {

LineStatus read_text_line(std::FILE* file, std::size_t keep_limit, TextLine& line,
                          std::size_t stop_after) {
    line.text.clear();
    line.length = 0;
    line.has_nul = false;
    line.has_newline = false;
    line.cut = false;
    bool read_any = false;
    for (;;) {
        const int c = std::getc(file);
        if (c == EOF) {
            if (std::ferror(file)) {
                return LineStatus::read_error;
            }
            return read_any ? LineStatus::line : LineStatus::end_of_file;
        }
        read_any = true;
        if (c == '\n') {
            line.has_newline = true;
            return LineStatus::line;
        }
        if (c == '\0') {
            line.has_nul = true;
        }
        if (line.length < keep_limit) {
            line.text.push_back(static_cast<char>(c));
        }
        ++line.length;
        if (line.length > stop_after) {
            line.cut = true;
            return LineStatus::line;
        }
    }
}

void skip_byte_order_mark(std::FILE* file) {
    static constexpr unsigned char mark[3] = {0xEF, 0xBB, 0xBF};
    int c = std::getc(file);
    if (c != mark[0]) {
        if (c != EOF) {
            std::ungetc(c, file);
        }
        return;
    }
    // Only a whole mark is skipped; a partial one leaves the first line as it stands.
    int second = std::getc(file);
    int third = second == mark[1] ? std::getc(file) : EOF;
    if (second == mark[1] && third == mark[2]) {
        return;
    }
    std::rewind(file);
}

}  // namespace eqsim
