#include "Progress.h"

namespace {

// Rewriting a terminal line costs little but flickers; five times a second
// reads as steady.
constexpr auto kShowInterval = std::chrono::milliseconds(200);

// One decimal, without the formatting differences of the runtimes.
std::string OneDecimal(double value)
{
    if (value < 0)
        value = 0;
    uint64_t tenths = uint64_t(value * 10 + 0.5);
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

}  // namespace

std::string FormatMegabytes(uint64_t bytes)
{
    return OneDecimal(bytes / 1e6) + " MB";
}

ProgressLine::ProgressLine(uint64_t totalFiles, uint64_t totalBytes, std::function<void(const std::string&)> show)
    : totalFiles_(totalFiles), totalBytes_(totalBytes), show_(std::move(show)), start_(Clock::now()),
      lastShown_(start_)
{
}

std::string ProgressLine::Describe(uint64_t doneFiles, uint64_t totalFiles, uint64_t doneBytes, uint64_t totalBytes,
                                   double seconds)
{
    std::string text = std::to_string(doneFiles) + "/" + std::to_string(totalFiles) + " files, " +
                       OneDecimal(doneBytes / 1e6) + "/" + OneDecimal(totalBytes / 1e6) + " MB";
    if (seconds > 0)
        text += ", " + OneDecimal(doneBytes / 1e6 / seconds) + " MB/s";
    return text;
}

void ProgressLine::AddBytes(uint64_t bytes)
{
    doneBytes_ += bytes;
    MaybeShow();
}

void ProgressLine::FileDone()
{
    ++doneFiles_;
    MaybeShow();
}

void ProgressLine::MaybeShow()
{
    Clock::time_point now = Clock::now();
    if (shownOnce_ && now - lastShown_ < kShowInterval)
        return;
    if (!shownOnce_ && now - start_ < kShowInterval)
        return;  // a run this short needs no progress
    shownOnce_ = true;
    lastShown_ = now;
    std::string text = Describe(doneFiles_, totalFiles_, doneBytes_, totalBytes_,
                                std::chrono::duration<double>(now - start_).count());
    size_t width = text.size();
    // A shorter line must cover the end of the longer one before it.
    if (width < shownWidth_)
        text.append(shownWidth_ - width, ' ');
    shownWidth_ = width > shownWidth_ ? width : shownWidth_;
    show_("\r" + text);
}

void ProgressLine::Clear()
{
    if (shownOnce_)
        show_("\r" + std::string(shownWidth_, ' ') + "\r");
    shownOnce_ = false;
    shownWidth_ = 0;
}
