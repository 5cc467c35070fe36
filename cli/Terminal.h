// What the tool shows on the terminal while it works: a progress bar on standard error, and a
// guard that keeps the library's own standard-output text out of a --json summary.
#pragma once
#include <cstdio>
#include <string>

#include <orvane/OrvaneMesh.h>

namespace orvane_cli {

// Draws "label [#####.....]  50%" on standard error, redrawn in place. Silent when disabled
// (--quiet, or standard error is not a terminal).
class TerminalProgress final : public Orvanes::PhotosProgressBar {
public:
    explicit TerminalProgress(bool enabled);
    ~TerminalProgress() override;
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    // Starts a new bar line for the next operation (each operation counts from its own start).
    void Begin(const std::string& label);
    void SetProgress(int percent) override;
    // Completes the current line, if one was drawn.
    void End();

    bool Enabled() const { return enabled; }

private:
    void Draw(int percent);

    bool enabled;
    bool lineOpen = false;
    int shown = -1;
    std::string label;
};

// With --timings, Lap(label) prints the wall-clock time since the clock started or since the
// last lap on standard error ("orvane: time 1.234 s  label"), so a slow run shows where its
// time went.
void ShowStageTimes(bool show);
class StageClock {
public:
    StageClock();
    void Lap(const char* label);

private:
    double last;
};

// The text with every control byte but line breaks and tabs shown as \xNN: paths and decoder
// words echoed raw could drive the terminal.
std::string Printable(const std::string& text);

// True when standard error is a terminal.
bool StderrIsTerminal();

// While alive, file descriptor 1 points at standard error (or at /dev/null when quiet), so text
// that library code prints to standard output cannot mix into the tool's own output. Both the
// C and the C++ streams are flushed on the way in and out.
class StdoutDiversion {
public:
    StdoutDiversion(bool active, bool quiet);
    ~StdoutDiversion();
    StdoutDiversion(const StdoutDiversion&) = delete;
    StdoutDiversion& operator=(const StdoutDiversion&) = delete;

private:
    int saved = -1;
};

// While alive, file descriptor 2 writes into a temporary file, so what a decoder warns about can
// be read before the tool decides what to tell the person. Text() ends the capture.
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    std::string Text();

private:
    void Restore();
    int saved = -1;
    std::FILE* file = nullptr;
};

}  // namespace orvane_cli
