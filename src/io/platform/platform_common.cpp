// The parts of the platform layer that are the same everywhere: splitting paths by the rules of
// either platform (both built everywhere, so that each can be tested anywhere; platform_posix.cpp
// and platform_windows.cpp pick their own), folders and the clock.
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

#include "io/platform/platform.h"

namespace eqsim::platform {

namespace {

// Names are UTF-8 text; a path built from char8_t keeps them so on every platform.
std::filesystem::path path_of(const std::string& name) {
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

bool is_windows_separator(char c) {
    return c == '\\' || c == '/';
}

bool is_drive_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The length of the part of a Windows path that names a volume and can't be split: "C:",
// "\\server\share\" (with its separator), "\\?\C:" and the like; 0 when there is none.
std::size_t windows_root_length(const std::string& path) {
    if (path.size() >= 2 && is_windows_separator(path[0]) && is_windows_separator(path[1])) {
        // A network name, or a device or long path name (\\?\, \\.\): skip two components.
        std::size_t end = 2;
        for (int component = 0; component < 2 && end < path.size(); ++component) {
            while (end < path.size() && !is_windows_separator(path[end])) {
                ++end;
            }
            if (end < path.size()) {
                ++end;  // the separator after the component
            }
        }
        return end;
    }
    if (path.size() >= 2 && is_drive_letter(path[0]) && path[1] == ':') {
        return 2;
    }
    return 0;
}

}  // namespace

std::string posix_folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string posix_base_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool posix_is_rooted(const std::string& name) {
    return !name.empty() && name[0] == '/';
}

bool windows_is_rooted(const std::string& name) {
    return (!name.empty() && is_windows_separator(name[0])) || windows_root_length(name) > 0;
}

std::string windows_folder_of(const std::string& path) {
    const std::size_t root = windows_root_length(path);
    const std::size_t separator = path.find_last_of("\\/");
    if (separator == std::string::npos || separator < root) {
        // Only a volume before the name ("C:x.dat", "\\server\share\x"), or nothing at all.
        return root == 0 ? std::string(".") : path.substr(0, root);
    }
    // The separator that follows the volume is the root folder itself: keep it.
    if (separator == root) {
        return path.substr(0, root + 1);
    }
    return path.substr(0, separator);
}

std::string windows_base_of(const std::string& path) {
    const std::size_t root = windows_root_length(path);
    const std::size_t separator = path.find_last_of("\\/");
    const std::size_t start =
        separator == std::string::npos || separator < root ? root : separator + 1;
    return path.substr(start);
}

bool make_folders(const std::string& path, std::string& reason) {
    std::error_code error;
    std::filesystem::create_directories(path_of(path), error);
    if (error) {
        reason = error.message();
        return false;
    }
    return true;
}

bool list_folder(const std::string& path, std::vector<std::string>& names, bool& missing,
                 std::string& reason) {
    names.clear();
    std::error_code error;
    missing = !std::filesystem::exists(path_of(path), error) && !error;
    if (missing) {
        reason = std::strerror(ENOENT);
        return false;
    }
    for (const std::filesystem::directory_entry& entry :
         std::filesystem::directory_iterator(path_of(path), error)) {
        const std::u8string name = entry.path().filename().u8string();
        names.emplace_back(name.begin(), name.end());
    }
    if (error) {
        reason = error.message();
        return false;
    }
    return true;
}

long long calendar_seconds() {
    return static_cast<long long>(std::time(nullptr));
}

}  // namespace eqsim::platform
