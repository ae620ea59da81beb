#include "io/report_destination.h"

#include <cerrno>
#include <cstring>

namespace eqsim {

bool check_report_destination(const std::string& output_name, ReportDestination& destination,
                              std::string& diagnostic) {
    destination = ReportDestination{};
    if (output_name.empty()) {
        return true;
    }
    std::string reason;
    platform::PathFacts facts;
    // A device or a FIFO is written through the name as given: names like /dev/stdout lead
    // there through links that name no file of their own.
    if (platform::inspect_path(output_name, facts, reason) &&
        facts.kind == platform::PathKind::other) {
        if (!platform::may_write_device(output_name, reason)) {
            diagnostic = output_name + ": cannot write output file: " + reason;
            return false;
        }
        destination.path = output_name;
        destination.exists = true;
        destination.kind = DestinationKind::write_directly;
        return true;
    }
    if (!platform::resolve_links(output_name, destination.path, diagnostic)) {
        return false;
    }
    const std::string& path = destination.path;
    if (!platform::inspect_path(path, facts, reason)) {
        diagnostic = output_name + ": cannot use as output file: " + reason;
        return false;
    }
    if (facts.kind == platform::PathKind::missing) {
        if (!platform::folder_allows_new_file(path, reason)) {
            diagnostic = output_name + ": cannot create output file: " + reason;
            return false;
        }
        destination.kind = DestinationKind::replace_by_rename;
        destination.attributes = platform::new_file_attributes();
        return true;
    }
    destination.exists = true;
    if (facts.kind == platform::PathKind::directory) {
        // Say where links led: /dev/stdout reaches the root folder when standard output is closed.
        diagnostic = output_name + ": output file is a directory" +
                     (path == output_name ? std::string() : " (" + path + ")");
        return false;
    }
    if (facts.kind != platform::PathKind::regular) {
        // The file changed kind between the two looks; refuse rather than guess.
        diagnostic = output_name + ": output file changed while it was checked";
        return false;
    }
    if (!platform::may_write_file(path, reason)) {
        diagnostic = output_name + ": cannot write output file: " + reason;
        return false;
    }
    destination.attributes = facts.attributes;
    destination.kind = platform::folder_allows_new_file(path, reason)
                           ? DestinationKind::replace_by_rename
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
    replacement_.discard();
    replacing_ = false;
}

bool ReportStream::open(const ReportDestination& destination, std::FILE* standard_output,
                        std::string& diagnostic) {
    destination_ = &destination;
    const std::string& path = destination.path;
    std::string reason;
    switch (destination.kind) {
        case DestinationKind::standard_output:
            file_ = standard_output;
            return true;
        case DestinationKind::replace_by_rename:
            switch (replacement_.open(path, destination.attributes, reason)) {
                case platform::AtomicFile::Opened::yes:
                    file_ = replacement_.file();
                    replacing_ = true;
                    return true;
                case platform::AtomicFile::Opened::not_created:
                    diagnostic = path + ": cannot create output file: " + reason;
                    return false;
                case platform::AtomicFile::Opened::not_prepared:
                    diagnostic = path + ": cannot prepare output file: " + reason;
                    return false;
            }
            return false;
        case DestinationKind::write_in_place:
        case DestinationKind::write_directly:
            file_ = platform::open_for_writing(path);
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
    std::string reason;
    bool ok = true;
    if (replacing_) {
        file_ = nullptr;
        replacing_ = false;
        ok = replacement_.commit(reason);
    } else {
        ok = std::fflush(file_) == 0 && !std::ferror(file_);
        int error = errno;
        if (owns_file_) {
            const bool closed = std::fclose(file_) == 0;
            if (ok && !closed) {
                ok = false;
                error = errno;
            }
            owns_file_ = false;
        }
        file_ = nullptr;
        if (!ok) {
            reason = std::strerror(error);
        }
    }
    if (!ok) {
        diagnostic = shown + ": cannot write the report: " + reason;
        discard();
    }
    return ok;
}

bool write_output_file(const std::string& path, const std::function<bool(std::FILE*)>& write,
                       std::string& diagnostic) {
    ReportDestination destination;
    if (!check_report_destination(path, destination, diagnostic)) {
        return false;
    }
    ReportStream stream;
    if (!stream.open(destination, nullptr, diagnostic)) {
        return false;
    }
    if (!write(stream.file())) {
        diagnostic = path + ": cannot write: " + std::strerror(errno);
        return false;  // the stream discards the temporary file
    }
    return stream.finish(diagnostic);
}

bool write_output_file(const std::string& path, const std::string& content,
                       std::string& diagnostic) {
    return write_output_file(
        path,
        [&](std::FILE* file) {
            return std::fwrite(content.data(), 1, content.size(), file) == content.size();
        },
        diagnostic);
}

}  // namespace eqsim
