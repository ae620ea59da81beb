// What differs between POSIX systems and Windows, and nothing else: opening files by their UTF-8
// names in binary mode, the process's standard streams, splitting paths into folder and file
// name, looking at what a path names, and writing a file atomically (a temporary file beside the
// target, flushed to storage and renamed over it, discarded on any failure). One source file per
// platform implements it; the build picks the one that applies.
//
// Functions that fail return false and put the system's description of the cause (strerror's
// text) in reason; callers add the file name and what they were doing.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace eqsim::platform {

// ---- The process ----

// Prepares the process before anything else runs: a closed standard stream gets a stand-in that
// fails every write (so that no file the program opens can take its place), standard output and
// error carry bytes unchanged, and signals that would end the process on a write error (a closed
// pipe, the file size limit) are ignored where they exist, so that the write fails instead.
void prepare_process();

// The command-line arguments in UTF-8, whatever the system's own encoding of them.
std::vector<std::string> utf8_arguments(int argc, char** argv);

// ---- Opening files ----

// Opens the file of a UTF-8 name for reading or for writing (created or truncated), always in
// binary mode: what is read or written is the file's bytes. Null with errno set on failure.
std::FILE* open_for_reading(const std::string& name);
std::FILE* open_for_writing(const std::string& name);

// ---- Path names ----

// The current folder's name in UTF-8. False when it can't be found.
bool current_folder(std::string& folder);

// The folder part and file name part of a path: "." and the path when there is no folder part.
// POSIX separates at '/' only; Windows at '/' and '\', after a drive ("C:x.dat") and after the
// server and share of a network name ("\\server\share\x").
std::string folder_of(const std::string& path);
std::string base_of(const std::string& path);
// The path of the file name in the same folder as path.
std::string beside(const std::string& path, const std::string& name);

// Whether a name is used as it is, not taken from some folder: on POSIX one that starts with
// '/'; on Windows also one that starts with '\' or names a drive ("C:\x", "C:x", "\\server\x").
bool is_rooted(const std::string& name);

// Both platforms' rules, for tests that check one on the other.
std::string posix_folder_of(const std::string& path);
std::string posix_base_of(const std::string& path);
bool posix_is_rooted(const std::string& name);
std::string windows_folder_of(const std::string& path);
std::string windows_base_of(const std::string& path);
bool windows_is_rooted(const std::string& name);

// ---- What a path names ----

enum class PathKind {
    missing,    // nothing there (the folder may be missing too)
    regular,    // a regular file
    directory,  // a folder
    other,      // a device, a FIFO, a pipe, a console
};

// What a file keeps when it is replaced: on POSIX its permission bits, owner and group; on
// Windows its attributes (hidden, archive and the like).
struct FileAttributes {
    unsigned long mode = 0;
    long long owner = -1;
    long long group = -1;
};

struct PathFacts {
    PathKind kind = PathKind::missing;
    FileAttributes attributes;
};

// Looks at path, following links. False, with reason, when it can't be looked at.
bool inspect_path(const std::string& path, PathFacts& facts, std::string& reason);

// Follows links to the file that writing through name would reach; a dangling link resolves to
// the file it would create. Windows follows its links when the file is opened, so there resolved
// is the name itself. False, with a whole diagnostic (name first), when the links can't be
// followed.
bool resolve_links(const std::string& name, std::string& resolved, std::string& diagnostic);

// Whether a device or pipe at path may be written.
bool may_write_device(const std::string& path, std::string& reason);
// Whether an existing regular file may be opened for writing.
bool may_write_file(const std::string& path, std::string& reason);
// Whether the folder of path allows a new file to be created (found by creating one).
bool folder_allows_new_file(const std::string& path, std::string& reason);
// The attributes a file created now gets.
FileAttributes new_file_attributes();

// ---- Open streams, folders and the clock ----

// What an open stream reads from or writes to: a regular file, a folder (POSIX opens a folder for
// reading), or something else: a terminal, a pipe, a device. PathKind::missing when it can't be
// told.
PathKind kind_of_stream(std::FILE* stream);

// Whether the stream is a terminal, where a person may be watching.
bool is_terminal(std::FILE* stream);

// Creates the folder path and the folders above it where missing. False, with reason, when that
// can't be done.
bool make_folders(const std::string& path, std::string& reason);

// The names (UTF-8, without the folder) of the entries of the folder path. False, with reason,
// when it can't be listed; missing is then true when nothing is there.
bool list_folder(const std::string& path, std::vector<std::string>& names, bool& missing,
                 std::string& reason);

// The calendar time in seconds since 1970.
long long calendar_seconds();

// ---- Writing a file atomically ----

// A file written under a temporary name beside its target and renamed over the target by commit()
// once complete, so that readers see the old file or the whole new one, never part of one. Without
// a successful commit() the temporary file is removed (also on destruction).
class AtomicFile {
  public:
    enum class Opened { yes, not_created, not_prepared };

    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile() { discard(); }

    // Creates the temporary file for target and gives it attributes (owner where permitted).
    // not_created: no file could be created there; not_prepared: it was, but could not be
    // given its attributes or opened as a stream (it is removed again).
    Opened open(const std::string& target, const FileAttributes& attributes, std::string& reason);
    std::FILE* file() const { return file_; }
    // Flushes, syncs to storage, closes and renames over the target. False, with reason, when
    // any step fails; the target is then untouched and the temporary file removed.
    bool commit(std::string& reason);
    void discard();

  private:
    std::FILE* file_ = nullptr;
    std::string target_;
    std::string temporary_path_;
};

}  // namespace eqsim::platform
