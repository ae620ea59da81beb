// The platform layer on POSIX systems: file names are bytes, text and binary mode are the same,
// and a replaced file keeps its permission bits, owner and group.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "io/platform/platform.h"

namespace eqsim::platform {

namespace {

std::string error_text(int error) {
    return std::strerror(error);
}

// A closed standard stream is given a stand-in, so that no file the program opens can take its
// place. The stand-in is the root folder opened for reading: writes to it fail as they would on
// the closed stream, and so does any path that leads back to it (a report named /dev/stdout, a
// control file named /dev/stdin), where /dev/null would silently swallow or give nothing.
int open_stand_in() {
    const int root = open("/", O_RDONLY | O_DIRECTORY);
    return root >= 0 ? root : open("/dev/null", O_RDONLY);
}

void guard_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1) {
            const int stand_in = open_stand_in();
            if (stand_in >= 0 && stand_in != fd) {
                dup2(stand_in, fd);
                close(stand_in);
            }
        }
    }
}

// Creates an empty temporary file beside path. Returns its descriptor (at least 3, so that it can
// never stand in for a closed standard stream) or -1.
int create_temporary_beside(const std::string& path, std::string& temporary_path) {
    std::string name(".");
    name += base_of(path);
    name += ".eqsim-XXXXXX";
    temporary_path = beside(path, name);
    const int fd = mkstemp(temporary_path.data());
    if (fd < 0) {
        return -1;
    }
    if (fd > 2) {
        return fd;
    }
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    if (moved < 0) {
        unlink(temporary_path.c_str());
    }
    return moved;
}

}  // namespace

void prepare_process() {
    guard_standard_streams();
    // A closed pipe must come back as a write error, not end the process unreported; so must a
    // file that passes the file size limit, which would otherwise leave its temporary file.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

PathKind kind_of_stream(std::FILE* stream) {
    struct stat info;
    if (fstat(fileno(stream), &info) != 0) {
        return PathKind::missing;
    }
    if (S_ISREG(info.st_mode)) {
        return PathKind::regular;
    }
    return S_ISDIR(info.st_mode) ? PathKind::directory : PathKind::other;
}

bool is_terminal(std::FILE* stream) {
    const int fd = fileno(stream);
    return fd >= 0 && isatty(fd) == 1;
}

std::FILE* open_for_reading(const std::string& name) {
    return std::fopen(name.c_str(), "rb");
}

std::FILE* open_for_writing(const std::string& name) {
    return std::fopen(name.c_str(), "wb");
}

std::string folder_of(const std::string& path) {
    return posix_folder_of(path);
}

std::string base_of(const std::string& path) {
    return posix_base_of(path);
}

bool current_folder(std::string& folder) {
    folder.assign(4096, '\0');
    if (getcwd(folder.data(), folder.size()) == nullptr) {
        return false;
    }
    folder.resize(folder.find('\0'));
    return true;
}

bool is_rooted(const std::string& name) {
    return posix_is_rooted(name);
}

std::string beside(const std::string& path, const std::string& name) {
    return posix_folder_of(path) + "/" + name;
}

bool inspect_path(const std::string& path, PathFacts& facts, std::string& reason) {
    facts = PathFacts{};
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) {
            return true;
        }
        reason = error_text(errno);
        return false;
    }
    facts.kind = S_ISREG(info.st_mode)   ? PathKind::regular
                 : S_ISDIR(info.st_mode) ? PathKind::directory
                                         : PathKind::other;
    facts.attributes.mode = info.st_mode & 07777;
    facts.attributes.owner = info.st_uid;
    facts.attributes.group = info.st_gid;
    return true;
}

bool resolve_links(const std::string& name, std::string& resolved, std::string& diagnostic) {
    resolved = name;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat info;
        if (lstat(resolved.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return true;
        }
        std::string target(4096, '\0');
        const ssize_t length = readlink(resolved.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
            diagnostic = name + ": cannot follow symbolic link: " + error_text(errno);
            return false;
        }
        target.resize(static_cast<std::size_t>(length));
        resolved = target[0] == '/' ? target : beside(resolved, target);
    }
    diagnostic = name + ": too many levels of symbolic links";
    return false;
}

bool may_write_device(const std::string& path, std::string& reason) {
    if (access(path.c_str(), W_OK) != 0) {
        reason = error_text(errno);
        return false;
    }
    return true;
}

bool may_write_file(const std::string& path, std::string& reason) {
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        reason = error_text(errno);
        return false;
    }
    close(fd);
    return true;
}

bool folder_allows_new_file(const std::string& path, std::string& reason) {
    std::string probe;
    const int fd = create_temporary_beside(path, probe);
    if (fd < 0) {
        reason = error_text(errno);
        return false;
    }
    close(fd);
    unlink(probe.c_str());
    return true;
}

FileAttributes new_file_attributes() {
    const mode_t mask = umask(0);
    umask(mask);
    FileAttributes attributes;
    attributes.mode = static_cast<mode_t>(0666 & ~mask);
    return attributes;
}

AtomicFile::Opened AtomicFile::open(const std::string& target, const FileAttributes& attributes,
                                    std::string& reason) {
    discard();
    target_ = target;
    const int fd = create_temporary_beside(target, temporary_path_);
    if (fd < 0) {
        reason = error_text(errno);
        temporary_path_.clear();
        return Opened::not_created;
    }
    if (attributes.owner >= 0 && fchown(fd, static_cast<uid_t>(attributes.owner),
                                        static_cast<gid_t>(attributes.group)) != 0) {
        // Not permitted for an ordinary user; the new file is then simply ours.
    }
    if (fchmod(fd, static_cast<mode_t>(attributes.mode)) != 0 ||
        (file_ = fdopen(fd, "wb")) == nullptr) {
        reason = error_text(errno);
        close(fd);
        discard();
        return Opened::not_prepared;
    }
    return Opened::yes;
}

bool AtomicFile::commit(std::string& reason) {
    if (file_ == nullptr) {
        reason = error_text(EBADF);
        return false;
    }
    bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
    int error = errno;
    if (ok && fsync(fileno(file_)) != 0) {
        ok = false;
        error = errno;
    }
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (ok && !closed) {
        ok = false;
        error = errno;
    }
    if (ok && std::rename(temporary_path_.c_str(), target_.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        reason = error_text(error);
        discard();
        return false;
    }
    temporary_path_.clear();
    return true;
}

void AtomicFile::discard() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_path_.empty()) {
        unlink(temporary_path_.c_str());
        temporary_path_.clear();
    }
}

}  // namespace eqsim::platform
