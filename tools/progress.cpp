#include "progress.h"

#include <cmath>
#include <cstdio>

namespace kestovatiff_cli {

void Reporter::Fail(const std::string& file, const std::string& reason)
{
    Line("kestovatiff: " + file + ": " + reason);
}

void Reporter::Line(const std::string& text)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    // The progress line is cleared first; the next redraw puts it back.
    (void)std::fprintf(stderr, "%s%s\n", shown_ ? "\r\033[K" : "", text.c_str());
    shown_ = false;
}

void Reporter::Progress(const std::string& text)
{
    if (!progress_) {
        return;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    (void)std::fprintf(stderr, "\r%s\033[K", text.c_str());
    shown_ = !text.empty();
}

std::string FormatBytes(uint64_t bytes)
{
    static const char* const kUnits[] = {"B", "kB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    while (value >= 1000.0 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
        value /= 1000.0;
        ++unit;
    }
    char text[32];
    (void)std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string ProgressText(size_t done, size_t total, uint64_t bytes, uint64_t totalBytes, double seconds)
{
    std::string text = std::to_string(done) + "/" + std::to_string(total) + " files, " + FormatBytes(bytes);
    if (seconds > 0.0 && bytes > 0) {
        const double rate = static_cast<double>(bytes) / seconds;
        text += ", " + FormatBytes(static_cast<uint64_t>(rate)) + "/s";
        const long long left = std::llround(static_cast<double>(totalBytes - bytes) / rate);
        char eta[48];
        (void)std::snprintf(eta, sizeof eta, ", %lld:%02lld left", left / 60, left % 60);
        text += eta;
    }
    return text;
}

}  // namespace kestovatiff_cli
