// The --json summary: an ordered JSON object, so members appear in the order the work adds them.
#pragma once
#include <string>

#include <nlohmann/json.hpp>

namespace orvane_cli {

using Json = nlohmann::ordered_json;

// Throws UsageError when text is not UTF-8: a JSON string cannot hold it, so a path that is
// not is refused before any work rather than written out garbled. what names the text.
void RequireUtf8(const std::string& text, const std::string& what);

}  // namespace orvane_cli
