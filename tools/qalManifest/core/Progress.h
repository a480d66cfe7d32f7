// The progress line shown on a terminal while files are digested.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

// Bytes as decimal megabytes with one decimal, e.g. "2147.5 MB".
std::string FormatMegabytes(uint64_t bytes);

class ProgressLine {
public:
    using Clock = std::chrono::steady_clock;
    // show receives the text to write as it is (carriage return included).
    ProgressLine(uint64_t totalFiles, uint64_t totalBytes, std::function<void(const std::string&)> show);

    void AddBytes(uint64_t bytes);
    void FileDone();
    // Blanks the line, so what follows starts on a clean one.
    void Clear();

    // The text for a state, e.g. "12/40 files, 312.4/2147.5 MB, 640.1 MB/s".
    static std::string Describe(uint64_t doneFiles, uint64_t totalFiles, uint64_t doneBytes, uint64_t totalBytes,
                                double seconds);

private:
    void MaybeShow();

    uint64_t totalFiles_, totalBytes_, doneFiles_ = 0, doneBytes_ = 0;
    std::function<void(const std::string&)> show_;
    Clock::time_point start_, lastShown_;
    bool shownOnce_ = false;
    size_t shownWidth_ = 0;
};
