// What a batch prints on standard error: a line per file that failed or was
// skipped, and on a terminal one progress line below them, redrawn in place.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace kestovatiff_cli {

class Reporter {
public:
    explicit Reporter(bool progress) : progress_(progress) {}

    // "kestovatiff: FILE: REASON", above the progress line. Any thread.
    void Fail(const std::string& file, const std::string& reason);
    void Line(const std::string& text);

    // Draws `text` as the progress line, where there is one.
    void Progress(const std::string& text);
    bool ShowsProgress() const { return progress_; }

private:
    std::mutex mutex_;
    bool progress_;
    bool shown_ = false;
};

// "12.3 MB": decimal units, as file sizes are quoted.
std::string FormatBytes(uint64_t bytes);

// The progress line: files done of the total, bytes, rate and time left.
std::string ProgressText(size_t done, size_t total, uint64_t bytes, uint64_t totalBytes, double seconds);

}  // namespace kestovatiff_cli
