#include "Json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace orvane_cli {

void JsonWriter::BeforeValue()
{
    if (afterKey) {
        afterKey = false;
        return;
    }
    if (!firstInLevel.empty()) {
        if (!firstInLevel.back()) out += ',';
        firstInLevel.back() = false;
    }
}

JsonWriter& JsonWriter::Open(char bracket)
{
    BeforeValue();
    out += bracket;
    firstInLevel.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::Close(char bracket)
{
    firstInLevel.pop_back();
    out += bracket;
    return *this;
}

JsonWriter& JsonWriter::Key(const std::string& name)
{
    Value(name);
    out += ':';
    afterKey = true;
    return *this;
}

JsonWriter& JsonWriter::Value(const std::string& text)
{
    BeforeValue();
    out += '"';
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;  // UTF-8 passes through unchanged
        }
    }
    out += '"';
    return *this;
}

JsonWriter& JsonWriter::Value(double number)
{
    BeforeValue();
    if (!std::isfinite(number)) {
        out += "null";  // JSON has no infinities
        return *this;
    }
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, number);
    out.append(text, written.ptr);
    return *this;
}

JsonWriter& JsonWriter::Value(int64_t number)
{
    BeforeValue();
    out += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::Value(bool flag)
{
    BeforeValue();
    out += flag ? "true" : "false";
    return *this;
}

}  // namespace orvane_cli
