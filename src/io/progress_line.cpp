#include "io/progress_line.h"

#include <algorithm>

#include "io/platform/platform.h"

namespace eqsim {

namespace {

constexpr double kFirstLook = 0.5;  // seconds before a run's length is judged
constexpr double kLongRun = 2.0;    // seconds a run must look like taking
constexpr std::chrono::milliseconds kInterval{100};

double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

ProgressLine::ProgressLine(std::FILE* stream)
    : stream_(stream), terminal_(platform::is_terminal(stream)), start_(Clock::now()) {}

void ProgressLine::update(double done,
                          const std::function<std::string(double seconds_left)>& text) {
    if (!terminal_) {
        return;
    }
    if (done >= 1.0) {
        erase();
        return;
    }
    const Clock::time_point now = Clock::now();
    const double elapsed = seconds(now - start_);
    if (!shown_) {
        if (elapsed < kFirstLook || (done > 0.0 && elapsed / done < kLongRun)) {
            return;
        }
    } else if (now - last_write_ < kInterval) {
        return;
    }
    write(text(done > 0.0 ? elapsed * (1.0 - done) / done : -1.0));
    last_write_ = now;
}

void ProgressLine::erase() {
    if (shown_) {
        write(std::string());
        std::fputc('\r', stream_);
        std::fflush(stream_);
        shown_ = false;
    }
}

void ProgressLine::write(const std::string& text) {
    std::string line = "\r" + text;
    if (text.size() < width_) {
        line.append(width_ - text.size(), ' ');
    }
    width_ = std::max(width_, text.size());
    std::fputs(line.c_str(), stream_);
    std::fflush(stream_);
    shown_ = true;
}

std::string duration_text(double seconds) {
    const long whole = static_cast<long>(seconds + 0.5);
    if (whole < 60) {
        return std::to_string(whole) + " s";
    }
    if (whole < 600) {
        return std::to_string(whole / 60) + " min " + std::to_string(whole % 60) + " s";
    }
    if (whole < 3600) {
        return std::to_string((whole + 30) / 60) + " min";
    }
    const long minutes = (whole + 30) / 60;
    return std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
}

}  // namespace eqsim
