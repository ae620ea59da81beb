#include "run/report_destination.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace eqsim {

namespace {

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links as opening the path for writing would, so that the file a link names is
// the one replaced. A dangling link resolves to the file it would create.
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
            diagnostic = name + ": cannot follow symbolic link: " + std::strerror(errno);
            return false;
        }
        target.resize(static_cast<std::size_t>(length));
        resolved = target[0] == '/' ? target : folder_of(resolved) + "/" + target;
    }
    diagnostic = name + ": too many levels of symbolic links";
    return false;
}

// Creates an empty temporary file beside path. Returns its descriptor (at least 3, so that it can
// never stand in for a closed standard stream) or -1.
int create_temporary_beside(const std::string& path, std::string& temporary_path) {
    temporary_path = folder_of(path) + "/." + base_of(path) + ".eqsim-XXXXXX";
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

bool folder_allows_new_file(const std::string& path, int& error) {
    std::string probe;
    const int fd = create_temporary_beside(path, probe);
    if (fd < 0) {
        error = errno;
        return false;
    }
    close(fd);
    unlink(probe.c_str());
    return true;
}

bool regular_file_is_writable(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

mode_t new_file_mode() {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

bool check_report_destination(const std::string& output_name, ReportDestination& destination,
                              std::string& diagnostic) {
    destination = ReportDestination{};
    if (output_name.empty()) {
        return true;
    }
    struct stat info;
    // A device or a FIFO is written through the name as given: names like /dev/stdout lead
    // there through links that name no file of their own.
    if (stat(output_name.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
        if (access(output_name.c_str(), W_OK) != 0) {
            diagnostic = output_name + ": cannot write output file: " + std::strerror(errno);
            return false;
        }
        destination.path = output_name;
        destination.exists = true;
        destination.kind = DestinationKind::write_directly;
        return true;
    }
    if (!resolve_links(output_name, destination.path, diagnostic)) {
        return false;
    }
    const std::string& path = destination.path;
    int error = 0;
    if (stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT) {
            diagnostic = output_name + ": cannot use as output file: " + std::strerror(errno);
            return false;
        }
        if (!folder_allows_new_file(path, error)) {
            diagnostic = output_name + ": cannot create output file: " + std::strerror(error);
            return false;
        }
        destination.kind = DestinationKind::replace_by_rename;
        destination.mode = new_file_mode();
        return true;
    }
    destination.exists = true;
    if (S_ISDIR(info.st_mode)) {
        // Say where links led: /dev/stdout reaches the root folder when standard output is closed.
        diagnostic = output_name + ": output file is a directory" +
                     (path == output_name ? std::string() : " (" + path + ")");
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        // The file changed kind between the two looks; refuse rather than guess.
        diagnostic = output_name + ": output file changed while it was checked";
        return false;
    }
    if (!regular_file_is_writable(path)) {
        diagnostic = output_name + ": cannot write output file: " + std::strerror(errno);
        return false;
    }
    destination.mode = info.st_mode & 07777;
    destination.owner = info.st_uid;
    destination.group = info.st_gid;
    destination.kind = folder_allows_new_file(path, error) ? DestinationKind::replace_by_rename
                                                           : DestinationKind::write_in_place;
    return true;
}

ReportStream::~ReportStream() {
    discard();
}

void ReportStream::discard() {
    if (owns_file_ && file_ != nullptr) {
        std::fclose(file_);
    }
    file_ = nullptr;
    owns_file_ = false;
    if (!temporary_path_.empty()) {
        unlink(temporary_path_.c_str());
        temporary_path_.clear();
    }
}

bool ReportStream::open(const ReportDestination& destination, std::FILE* standard_output,
                        std::string& diagnostic) {
    destination_ = &destination;
    const std::string& path = destination.path;
    switch (destination.kind) {
        case DestinationKind::standard_output:
            file_ = standard_output;
            return true;
        case DestinationKind::replace_by_rename: {
            const int fd = create_temporary_beside(path, temporary_path_);
            if (fd < 0) {
                temporary_path_.clear();
                diagnostic = path + ": cannot create output file: " + std::strerror(errno);
                return false;
            }
            if (destination.exists && fchown(fd, destination.owner, destination.group) != 0) {
                // Not permitted for an ordinary user; the new file is then simply ours.
            }
            if (fchmod(fd, destination.mode) != 0 || (file_ = fdopen(fd, "w")) == nullptr) {
                diagnostic = path + ": cannot prepare output file: " + std::strerror(errno);
                close(fd);
                discard();
                return false;
            }
            owns_file_ = true;
            return true;
        }
        case DestinationKind::write_in_place:
        case DestinationKind::write_directly:
            file_ = std::fopen(path.c_str(), "w");
            if (file_ == nullptr) {
                diagnostic = path + ": cannot open output file: " + std::strerror(errno);
                return false;
            }
            owns_file_ = true;
            return true;
    }
    return false;
}

bool ReportStream::finish(std::string& diagnostic) {
    const std::string& path = destination_->path;
    const std::string shown = path.empty() ? std::string("standard output") : path;
    bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
    int error = errno;
    if (ok && !temporary_path_.empty() && fsync(fileno(file_)) != 0) {
        ok = false;
        error = errno;
    }
    if (owns_file_) {
        const bool closed = std::fclose(file_) == 0;
        if (ok && !closed) {
            ok = false;
            error = errno;
        }
        owns_file_ = false;
    }
    file_ = nullptr;
    if (ok && !temporary_path_.empty()) {
        if (std::rename(temporary_path_.c_str(), path.c_str()) != 0) {
            ok = false;
            error = errno;
        } else {
            temporary_path_.clear();
        }
    }
    if (!ok) {
        diagnostic = shown + ": cannot write the report: " + std::strerror(error);
        discard();
    }
    return ok;
}

}  // namespace eqsim
