// Large blocks of memory on 2 MB pages for this process (see LargePages.cpp).
#pragma once

namespace orvane_cli {

// Starts the program once more with the C library asked to back its large blocks with 2 MB
// pages; returns when that is not needed or not possible. Call first thing in main, before any
// output or thread.
void UseLargePages(char** argv);

}  // namespace orvane_cli
