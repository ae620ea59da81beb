// Where an output file goes and how it gets there safely: the destination is checked before any
// replication runs, a regular file is written beside its final name and renamed into place only
// when complete, and no failure leaves a partial, temporary or damaged file behind. The eqsim
// report and every file of a study are written this way.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "io/platform/platform.h"

namespace eqsim {

enum class DestinationKind {
    standard_output,    // no output name
    replace_by_rename,  // regular file (new or existing) in a folder that allows new files
    write_in_place,     // existing writable regular file in a folder that allows no new file
    write_directly,     // not a regular file: a device, a FIFO
};

struct ReportDestination {
    DestinationKind kind = DestinationKind::standard_output;
    std::string path;     // the file finally written (symbolic links resolved)
    bool exists = false;  // the file existed when it was checked
    // What the finished file gets when it is renamed into place: the replaced file's
    // permissions and owner, or those of a new file.
    platform::FileAttributes attributes;
};

// Decides how a report reaches output_name (empty: standard output). Returns false, with
// diagnostic, when it can't be written.
bool check_report_destination(const std::string& output_name, ReportDestination& destination,
                              std::string& diagnostic);

// An open report stream; finish() makes it final, and destruction without a finish discards
// whatever was written to a temporary file.
class ReportStream {
  public:
    ReportStream() = default;
    ReportStream(const ReportStream&) = delete;
    ReportStream& operator=(const ReportStream&) = delete;
    ~ReportStream();

    // Opens the stream for destination, writing to standard_output when the report goes there.
    bool open(const ReportDestination& destination, std::FILE* standard_output,
              std::string& diagnostic);
    std::FILE* file() const { return file_; }
    // Flushes, closes and renames into place. False, with diagnostic, on any write error.
    bool finish(std::string& diagnostic);

  private:
    void discard();

    const ReportDestination* destination_ = nullptr;
    std::FILE* file_ = nullptr;
    bool owns_file_ = false;
    platform::AtomicFile replacement_;  // the file being written when the report replaces one
    bool replacing_ = false;
};

// Writes the file at path through write (which returns false when it could not write), replacing
// any earlier file only once the new one is complete. False, with diagnostic, when the file could
// not be written; an earlier file is then untouched and nothing else is left behind.
bool write_output_file(const std::string& path, const std::function<bool(std::FILE*)>& write,
                       std::string& diagnostic);
bool write_output_file(const std::string& path, const std::string& content,
                       std::string& diagnostic);

}  // namespace eqsim
