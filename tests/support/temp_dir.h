// Scratch folders and whole-program runs for the tests: each test gets its own folder, removed
// afterwards, and can run the program in-process or as a separate executable.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace eqsim::testing {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // Writes content to name inside the folder and returns the file's path.
    std::string write(const std::string& name, const std::string& content) const;
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes content to a file at any path.
    static void write_file(const std::string& path, const std::string& content);

  private:
    std::string path_;
};

std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

struct RunResult {
    int status = 0;
    std::string out;
    std::string err;
};

// A program's entry: eqsim_main or eqsim_study_main.
using ProgramMain = int (*)(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

// Runs a program (eqsim unless another is given) in this process with the given arguments (the
// program name is added), with a scratch folder of its own as the current folder, so that a file
// it writes by a relative name can never land in the checkout.
RunResult run_in_process(const std::vector<std::string>& args, ProgramMain program = nullptr);

// Runs a built executable (eqsim unless program names another) through the shell with standard
// output and error captured; the arguments may carry redirections of their own, which take
// precedence. The current folder is working_folder, or a scratch folder of its own when that is
// empty. environment, when given, is a list of NAME=value settings for the program alone (shell
// syntax, quoted by the caller).
RunResult run_executable(const std::string& arguments_and_redirections,
                         const std::string& working_folder = {},
                         const std::string& environment = {}, const char* program = nullptr);

// The lines of text, without their newlines, and the fields of a line split at separator.
std::vector<std::string> lines_of(const std::string& text);
std::vector<std::string> fields_of(const std::string& line, char separator = '\t');

// The bundled example's data file.
std::string example_data_path();

}  // namespace eqsim::testing
