// --large_pages runs the benchmarks with memory as the tool has it (large blocks on 2 MB pages,
// where this machine's first touches of 4 kB pages no longer dominate); without it, as a host
// that links the library gets it by default. The same-run bounds move with it.
#include <cstring>

#include <benchmark/benchmark.h>

#include "LargePages.h"

int main(int argc, char** argv)
{
    int kept = 1;
    bool largePages = false;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--large_pages") == 0) largePages = true;
        else argv[kept++] = argv[k];
    }
    if (largePages) {
        argv[kept] = nullptr;
        orvane_cli::UseLargePages(argv);
    }
    argc = kept;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
