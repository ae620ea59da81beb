#include "support/temp_dir.h"

#include <sys/stat.h>
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "eqsim/eqsim_main.h"

namespace eqsim::testing {

#if defined(_WIN32)
// Windows has no mkdtemp: a random name, created only if no folder has it.
TempDir::TempDir() {
    static std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = std::filesystem::temp_directory_path().generic_string() +
                                      "/eqsim-test-" + std::to_string(random() % 1000000000u);
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a scratch folder");
}
#else
TempDir::TempDir() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/eqsim-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a scratch folder");
    }
    path_ = pattern;
}
#endif

TempDir::~TempDir() {
    std::error_code ignored;
    // Tests may leave read-only folders behind; make them removable first.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
        if (entry.is_directory(ignored)) {
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        } else if (!entry.is_symlink(ignored)) {
            // Windows removes no file with the read-only attribute.
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add, ignored);
        }
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

void TempDir::write_file(const std::string& path, const std::string& content) {
    std::ofstream stream(path, std::ios::binary);
    stream << content;
}

std::string TempDir::write(const std::string& name, const std::string& content) const {
    const std::string path = file(name);
    write_file(path, content);
    return path;
}

std::string read_file(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

bool file_exists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::symlink_status(path, ignored).type() !=
           std::filesystem::file_type::not_found;
}

namespace {

std::string drain(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, got);
    }
    std::fclose(file);
    return text;
}

}  // namespace

RunResult run_in_process(const std::vector<std::string>& args, ProgramMain program) {
    if (program == nullptr) {
        program = eqsim::eqsim_main;
    }
    std::vector<const char*> argv = {"eqsim"};
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const TempDir scratch;
    RunResult result;
#if defined(_WIN32)
    // Windows has no folder descriptors; the folder is left and re-entered by name.
    const std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::current_path(scratch.path());
    result.status = program(static_cast<int>(argv.size()), argv.data(), out, err);
    std::filesystem::current_path(home);
#else
    const int home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (home < 0 || chdir(scratch.path().c_str()) != 0) {
        throw std::runtime_error("cannot enter a scratch folder");
    }
    result.status = program(static_cast<int>(argv.size()), argv.data(), out, err);
    const bool back = fchdir(home) == 0;
    close(home);
    if (!back) {
        throw std::runtime_error("cannot return from the scratch folder");
    }
#endif
    result.out = drain(out);
    result.err = drain(err);
    return result;
}

RunResult run_executable(const std::string& arguments_and_redirections,
                         const std::string& working_folder, const std::string& environment,
                         const char* program) {
    const std::string executable = program != nullptr ? program : EQSIM_EXECUTABLE;
    TempDir capture;
    const TempDir scratch;
    const std::string folder = working_folder.empty() ? scratch.path() : working_folder;
    // The captures come first so that the caller's own redirections take precedence.
#if defined(_WIN32)
    // cmd.exe quotes with double quotes and wants backslashes in the folder it enters; the exit
    // status is the program's own.
    std::string windows_folder = folder;
    std::replace(windows_folder.begin(), windows_folder.end(), '/', '\\');
    const std::string command = "cd /d \"" + windows_folder + "\" && \"" + executable + "\" >\"" +
                                capture.file("out") + "\" 2>\"" + capture.file("err") + "\" " +
                                arguments_and_redirections;
    if (!environment.empty()) {
        throw std::runtime_error("settings of the environment need a POSIX shell");
    }
    const int raw = std::system(command.c_str());
    RunResult result;
    result.status = raw;
#else
    const std::string command = "cd '" + folder + "' && " + environment + " '" + executable +
                                "' >'" + capture.file("out") + "' 2>'" + capture.file("err") +
                                "' " + arguments_and_redirections;
    const int raw = std::system(command.c_str());
    RunResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
    result.out = read_file(capture.file("out"));
    result.err = read_file(capture.file("err"));
    return result;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> fields_of(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::istringstream stream(line);
    for (std::string field; std::getline(stream, field, separator);) {
        fields.push_back(field);
    }
    return fields;
}

std::string example_data_path() {
    return std::string(EQSIM_SOURCE_DIR) + "/examples/actmath.dat";
}

}  // namespace eqsim::testing
