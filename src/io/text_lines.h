// Reading the control and data files: bounded line reads that also report what a plain text read
// would hide (an over-long line, a NUL byte, a read error), and the byte-order mark at the start of
// a file. What a line holds is split and read by tokens.h.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace eqsim {

// Closes a file when its handle goes out of scope.
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

enum class LineStatus { line, end_of_file, read_error };

struct TextLine {
    std::string text;          // the line without its newline, at most the kept length
    std::size_t length = 0;    // characters before the newline (or the end of the file)
    bool has_nul = false;      // the line holds a NUL byte
    bool has_newline = false;  // a newline ended the line (not the end of the file)
    bool cut = false;          // reading stopped at stop_after; the rest of the line is unread
};

// Reads one line. Only the first keep_limit characters are kept in text; the rest of a longer
// line is consumed and counted in length, up to stop_after characters: reading stops once the line
// is longer than that, so that a stream without newlines (a device, say) cannot hold the reader.
LineStatus read_text_line(std::FILE* file, std::size_t keep_limit, TextLine& line,
                          std::size_t stop_after = SIZE_MAX);

// Consumes a UTF-8 byte-order mark at the current (initial) position, if there is one.
void skip_byte_order_mark(std::FILE* file);

}  // namespace eqsim
