#include "support/temp_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "run/eqsim_main.h"

namespace eqsim::testing {

TempDir::TempDir() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/eqsim-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a scratch folder");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Tests may leave read-only folders behind; make them removable first.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
        if (entry.is_directory(ignored)) {
            chmod(entry.path().c_str(), 0700);
        }
    }
    chmod(path_.c_str(), 0700);
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
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
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
    const int home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (home < 0 || chdir(scratch.path().c_str()) != 0) {
        throw std::runtime_error("cannot enter a scratch folder");
    }
    RunResult result;
    result.status = program(static_cast<int>(argv.size()), argv.data(), out, err);
    const bool back = fchdir(home) == 0;
    close(home);
    if (!back) {
        throw std::runtime_error("cannot return from the scratch folder");
    }
    result.out = drain(out);
    result.err = drain(err);
    return result;
}

RunResult run_executable(const std::string& arguments_and_redirections,
                         const std::string& working_folder, const std::string& environment) {
    TempDir capture;
    const TempDir scratch;
    const std::string folder = working_folder.empty() ? scratch.path() : working_folder;
    // The captures come first so that the caller's own redirections take precedence.
    const std::string command = "cd '" + folder + "' && " + environment + " '" + EQSIM_EXECUTABLE +
                                "' >'" + capture.file("out") + "' 2>'" + capture.file("err") +
                                "' " + arguments_and_redirections;
    const int raw = std::system(command.c_str());
    RunResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
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
