// Independent pieces of work shared by the cores without changing what they make.
#pragma once
#include <cstddef>
#include <functional>

namespace orvane_cli {

// Does pieces 0 .. count - 1, each once: this thread takes them from the first up with here(i),
// and, when the image library may use two threads or more (--threads), a helper thread takes
// them from the last down with there(i), until the two meet. So this thread alone may report
// progress as it goes, in rising order. Returns when every piece is done; a failure stops both
// sides after their current piece and is thrown again here (this thread's first).
void FromBothEnds(std::size_t count, const std::function<void(std::size_t)>& here,
                  const std::function<void(std::size_t)>& there);

// Does pieces 0 .. count - 1, each once, on the image library's worker threads (--threads), in
// no fixed order. Returns when every piece is done; the first failing piece's failure (in piece
// order) is thrown again here.
void OnCores(std::size_t count, const std::function<void(std::size_t)>& piece);

}  // namespace orvane_cli
