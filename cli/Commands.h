// The tool's commands. Each takes the words after its own name and returns the exit status;
// failures leave as exceptions (UsageError for what the person typed).
#pragma once
#include <string>
#include <vector>

namespace orvane_cli {

int RunRelief(int argc, char** argv, int first);
int RunTranslucent(int argc, char** argv, int first);
int RunCard(int argc, char** argv, int first);
int RunCardScan(int argc, char** argv, int first);
int RunDemo(int argc, char** argv, int first);
int RunPalette(int argc, char** argv, int first);

// The sample photo built into the binary (a PNG).
extern const unsigned char kSamplePhoto[];
extern const std::size_t kSamplePhotoSize;

}  // namespace orvane_cli
