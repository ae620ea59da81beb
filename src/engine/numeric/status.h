// The outcome of an operation that can fail: success, or a failure of a kind with a diagnostic
// that says what went wrong and where. Every module reports its failures this way; none throws
// across its boundary and none ends the process.
#pragma once

#include <string>
#include <utility>

namespace eqsim {

class Status {
  public:
    enum class Code {
        ok,
        invalid_input,   // a file or value the user gave cannot be used
        method_failed,   // an equating method could not equate a pair of samples
        no_storage,      // working storage could not be had
        vector_storage,  // the smoothing code's vectors could not be had
        output_failed,   // a result could not be written
        cancelled,       // the caller asked the operation to stop
    };

    Status() = default;
    static Status ok() { return Status(); }
    static Status error(Code code, std::string diagnostic) {
        return Status(code, std::move(diagnostic));
    }

    bool is_ok() const { return code_ == Code::ok; }
    Code code() const { return code_; }
    const std::string& diagnostic() const { return diagnostic_; }

  private:
    Status(Code code, std::string diagnostic) : code_(code), diagnostic_(std::move(diagnostic)) {}

    Code code_ = Code::ok;
    std::string diagnostic_;
};

}  // namespace eqsim
