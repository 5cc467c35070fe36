#include "LargePages.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

namespace orvane_cli {

// Meshes and files are written into fresh memory, and on a virtual machine the first
// touch of every 4 kB page traps into the host: a 150 mm relief spent a third of its time
// there. The C library backs its large blocks with 2 MB pages when asked at start-up, so the
// program starts itself once more with that asked; the output is the same. If the restart fails,
// or the user set the option either way, the run goes on as it is.
void UseLargePages(char** argv)
{
#ifdef __GLIBC__
    constexpr const char* kLargePages = "glibc.malloc.hugetlb";
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables != nullptr && std::strstr(tunables, kLargePages) != nullptr) return;
    const std::string asked = std::string(kLargePages) + "=1";
    const std::string value = tunables != nullptr && *tunables != '\0' ? std::string(tunables) + ":" + asked : asked;
    if (::setenv("GLIBC_TUNABLES", value.c_str(), 1) == 0) ::execv("/proc/self/exe", argv);
#else
    (void)argv;
#endif
}

}  // namespace orvane_cli
