#include "Terminal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

namespace orvane_cli {

namespace {

bool showStageTimes = false;

double Seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void ShowStageTimes(bool show) { showStageTimes = show; }

StageClock::StageClock() : last(Seconds()) {}

void StageClock::Lap(const char* label)
{
    const double now = Seconds();
    if (showStageTimes) std::fprintf(stderr, "orvane: time %7.3f s  %s\n", now - last, label);
    last = now;
}

std::string Printable(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 || byte == 0x7F) && c != '\n' && c != '\t') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

TerminalProgress::TerminalProgress(bool enabledArg) : enabled(enabledArg) {}

TerminalProgress::~TerminalProgress() { End(); }

void TerminalProgress::Begin(const std::string& labelArg)
{
    End();
    label = labelArg;
    shown = -1;
    if (enabled) Draw(0);
}

void TerminalProgress::SetProgress(int percent)
{
    if (!enabled) return;
    percent = std::clamp(percent, 0, 100);
    if (percent != shown) Draw(percent);
}

void TerminalProgress::Draw(int percent)
{
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), '.');
    std::fprintf(stderr, "\r%-24.24s [%s] %3d%%", label.c_str(), bar.c_str(), percent);
    std::fflush(stderr);
    shown = percent;
    lineOpen = true;
}

void TerminalProgress::End()
{
    if (lineOpen) {
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }
    lineOpen = false;
}

StdoutDiversion::StdoutDiversion(bool active, bool quiet)
{
    if (!active) return;
    std::cout.flush();
    std::fflush(stdout);
    saved = ::dup(STDOUT_FILENO);
    if (saved < 0) throw std::runtime_error("cannot duplicate standard output");
    int target = quiet ? ::open("/dev/null", O_WRONLY) : ::dup(STDERR_FILENO);
    if (target < 0 || ::dup2(target, STDOUT_FILENO) < 0) {
        if (target >= 0) ::close(target);
        ::close(saved);
        saved = -1;
        throw std::runtime_error("cannot divert standard output");
    }
    ::close(target);
}

StderrCapture::StderrCapture()
{
    std::fflush(stderr);
    file = std::tmpfile();
    saved = file ? ::dup(STDERR_FILENO) : -1;
    // Without a temporary file nothing is captured and the warnings go where they always went.
    if (saved >= 0 && ::dup2(::fileno(file), STDERR_FILENO) < 0) Restore();
}

void StderrCapture::Restore()
{
    if (saved < 0) return;
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    saved = -1;
}

std::string StderrCapture::Text()
{
    Restore();
    std::string text;
    if (!file) return text;
    std::rewind(file);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    return text;
}

StderrCapture::~StderrCapture()
{
    Restore();
    if (file) std::fclose(file);
}

StdoutDiversion::~StdoutDiversion()
{
    if (saved < 0) return;
    std::cout.flush();
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
}

}  // namespace orvane_cli
