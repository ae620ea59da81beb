// The platform layer on Windows: file names are UTF-8 turned into UTF-16 for the wide-character
// API, every file and standard stream carries bytes unchanged (no CR-LF translation, so ftell is
// exact and reports are the same bytes as on POSIX systems), and a file is replaced by
// MoveFileExW, which unlike rename() replaces an existing file. There are no owners or
// permission bits to keep: a read-only file is refused, as it is not writable, and the hidden and
// archive attributes pass to the replacement. Links are followed by Windows itself on opening.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h must come first.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "io/platform/platform.h"

namespace eqsim::platform {

namespace {

std::wstring widen(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    // Names that are not UTF-8 are taken in the system's code page, as narrow names used to be.
    UINT code_page = CP_UTF8;
    int length =
        MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0) {
        code_page = CP_ACP;
        length = MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0);
    }
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        MultiByteToWideChar(code_page, 0, text.data(), size, wide.data(), length);
    }
    return wide;
}

std::string narrow(const wchar_t* text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) {
        return {};
    }
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), length, nullptr, nullptr);
    utf8.pop_back();  // the terminating NUL
    return utf8;
}

// The system's error in the words strerror uses on every platform, where there is one.
std::string error_text(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return std::strerror(ENOENT);
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return std::strerror(EACCES);
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return std::strerror(EEXIST);
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return std::strerror(ENOSPC);
        case ERROR_WRITE_PROTECT:
            return std::strerror(EROFS);
        case ERROR_DIRECTORY:
            return std::strerror(ENOTDIR);
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
            return std::strerror(EINVAL);
        default:
            return "Windows error " + std::to_string(error);
    }
}

HANDLE open_existing(const std::wstring& path, DWORD access) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool is_missing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A closed standard stream gets the null device opened for reading only: writes to it fail as
// they would on the closed stream, and no file the program opens can take its number.
void guard_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        const intptr_t handle = _get_osfhandle(fd);
        if (handle != -1 && handle != -2 && handle != 0) {
            continue;
        }
        const HANDLE null_device =
            CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
        if (null_device == INVALID_HANDLE_VALUE) {
            continue;
        }
        const int stand_in = _open_osfhandle(reinterpret_cast<intptr_t>(null_device), _O_RDONLY);
        if (stand_in < 0) {
            CloseHandle(null_device);
            continue;
        }
        if (stand_in != fd) {
            _dup2(stand_in, fd);
            _close(stand_in);
        }
    }
}

// Creates an empty file beside path under a name no other file has. Returns its handle, or
// INVALID_HANDLE_VALUE with the error in error.
HANDLE create_temporary_beside(const std::string& path, std::string& temporary_path, DWORD& error) {
    static std::uint64_t counter = 0;
    std::uint64_t state =
        GetTickCount64() ^ (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32);
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (int attempt = 0; attempt < 100; ++attempt) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL + ++counter;
        std::string name(".");
        name += base_of(path);
        name += ".eqsim-";
        for (int i = 0; i < 6; ++i) {
            name += digits[(state >> (20 + 6 * i)) % 36];
        }
        temporary_path = beside(path, name);
        const HANDLE handle = CreateFileW(widen(temporary_path).c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            return handle;
        }
        error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    temporary_path.clear();
    return INVALID_HANDLE_VALUE;
}

constexpr DWORD kept_attributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

}  // namespace

void prepare_process() {
    guard_standard_streams();
    _setmode(0, _O_BINARY);
    _setmode(1, _O_BINARY);
    _setmode(2, _O_BINARY);
    // No dialog boxes for missing drives or media: the open fails and is reported.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr || count != argc) {
        if (wide != nullptr) {
            LocalFree(wide);
        }
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        arguments.push_back(narrow(wide[i]));
    }
    LocalFree(wide);
    return arguments;
}

PathKind kind_of_stream(std::FILE* stream) {
    struct _stat64 info;
    if (_fstat64(_fileno(stream), &info) != 0) {
        return PathKind::missing;
    }
    if ((info.st_mode & _S_IFMT) == _S_IFREG) {
        return PathKind::regular;
    }
    return (info.st_mode & _S_IFMT) == _S_IFDIR ? PathKind::directory : PathKind::other;
}

bool is_terminal(std::FILE* stream) {
    const int fd = _fileno(stream);
    return fd >= 0 && _isatty(fd) != 0;
}

std::FILE* open_for_reading(const std::string& name) {
    const std::wstring wide = widen(name);
    std::FILE* file = _wfopen(wide.c_str(), L"rb");
    if (file == nullptr && errno == EACCES) {
        // Windows refuses to open a folder as a file with "permission denied", which would send
        // the user looking at permissions; say what the name really is.
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            errno = EISDIR;
        }
    }
    return file;
}

std::FILE* open_for_writing(const std::string& name) {
    return _wfopen(widen(name).c_str(), L"wb");
}

std::string folder_of(const std::string& path) {
    return windows_folder_of(path);
}

std::string base_of(const std::string& path) {
    return windows_base_of(path);
}

bool current_folder(std::string& folder) {
    std::wstring wide(32768, L'\0');
    const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(wide.size()), wide.data());
    if (length == 0 || length >= wide.size()) {
        return false;
    }
    wide.resize(length);
    folder = narrow(wide.c_str());
    return true;
}

bool is_rooted(const std::string& name) {
    return windows_is_rooted(name);
}

std::string beside(const std::string& path, const std::string& name) {
    const std::string base = windows_base_of(path);
    return path.substr(0, path.size() - base.size()) + name;
}

bool inspect_path(const std::string& path, PathFacts& facts, std::string& reason) {
    facts = PathFacts{};
    const std::wstring wide = widen(path);
    const HANDLE handle = open_existing(wide, 0);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (is_missing(error) || path.empty()) {
            return true;
        }
        reason = error_text(error);
        return false;
    }
    const DWORD type = GetFileType(handle);
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = type == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!known) {
        facts.kind = PathKind::other;  // the console, the null device, a pipe
        return true;
    }
    facts.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::directory
                                                                         : PathKind::regular;
    facts.attributes.mode = info.dwFileAttributes;
    return true;
}

bool resolve_links(const std::string& name, std::string& resolved, std::string& diagnostic) {
    resolved = name;
    const std::wstring wide = widen(name);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return true;
    }
    // A link: the report replaces the file it leads to, not the link.
    const HANDLE handle = open_existing(wide, 0);
    if (handle == INVALID_HANDLE_VALUE) {
        return true;  // a dangling link: opening it creates nothing either
    }
    std::wstring target(32768, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(
        handle, target.data(), static_cast<DWORD>(target.size()), VOLUME_NAME_DOS);
    const DWORD error = GetLastError();
    CloseHandle(handle);
    if (length == 0 || length >= target.size()) {
        diagnostic = name + ": cannot follow symbolic link: " + error_text(error);
        return false;
    }
    target.resize(length);
    // \\?\C:\x becomes C:\x and \\?\UNC\server\share\x becomes \\server\share\x.
    if (target.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        target = L"\\\\" + target.substr(8);
    } else if (target.rfind(L"\\\\?\\", 0) == 0) {
        target = target.substr(4);
    }
    resolved = narrow(target.c_str());
    return true;
}

bool may_write_device(const std::string& path, std::string& reason) {
    const HANDLE handle = open_existing(widen(path), GENERIC_WRITE);
    if (handle == INVALID_HANDLE_VALUE) {
        reason = error_text(GetLastError());
        return false;
    }
    CloseHandle(handle);
    return true;
}

bool may_write_file(const std::string& path, std::string& reason) {
    // The read-only attribute binds administrators too (and Wine's root, which Unix permissions
    // would not stop).
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        reason = error_text(ERROR_ACCESS_DENIED);
        return false;
    }
    return may_write_device(path, reason);
}

bool folder_allows_new_file(const std::string& path, std::string& reason) {
    std::string probe;
    DWORD error = 0;
    const HANDLE handle = create_temporary_beside(path, probe, error);
    if (handle == INVALID_HANDLE_VALUE) {
        reason = error_text(error);
        return false;
    }
    CloseHandle(handle);
    DeleteFileW(widen(probe).c_str());
    return true;
}

FileAttributes new_file_attributes() {
    return FileAttributes{};
}

AtomicFile::Opened AtomicFile::open(const std::string& target, const FileAttributes& attributes,
                                    std::string& reason) {
    discard();
    target_ = target;
    DWORD error = 0;
    const HANDLE handle = create_temporary_beside(target, temporary_path_, error);
    if (handle == INVALID_HANDLE_VALUE) {
        reason = error_text(error);
        return Opened::not_created;
    }
    const DWORD kept = static_cast<DWORD>(attributes.mode) & kept_attributes;
    if (kept != 0 && SetFileAttributesW(widen(temporary_path_).c_str(), kept) == 0) {
        reason = error_text(GetLastError());
        CloseHandle(handle);
        discard();
        return Opened::not_prepared;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        reason = std::strerror(errno);
        CloseHandle(handle);
        discard();
        return Opened::not_prepared;
    }
    file_ = _fdopen(fd, "wb");
    if (file_ == nullptr) {
        reason = std::strerror(errno);
        _close(fd);
        discard();
        return Opened::not_prepared;
    }
    return Opened::yes;
}

bool AtomicFile::commit(std::string& reason) {
    if (file_ == nullptr) {
        reason = std::strerror(EBADF);
        return false;
    }
    bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
    if (!ok) {
        reason = std::strerror(errno);
    }
    if (ok && FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_)))) == 0) {
        ok = false;
        reason = error_text(GetLastError());
    }
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (ok && !closed) {
        ok = false;
        reason = std::strerror(errno);
    }
    if (ok && MoveFileExW(widen(temporary_path_).c_str(), widen(target_).c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        ok = false;
        reason = error_text(GetLastError());
    }
    if (!ok) {
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
        DeleteFileW(widen(temporary_path_).c_str());
        temporary_path_.clear();
    }
}

}  // namespace eqsim::platform
