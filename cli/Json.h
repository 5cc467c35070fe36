// A small writer for the --json summary: objects, arrays, strings and numbers, with commas and
// escaping handled, so every summary the tool prints is valid JSON.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace orvane_cli {

class JsonWriter {
public:
    JsonWriter& BeginObject() { return Open('{'); }
    JsonWriter& EndObject() { return Close('}'); }
    JsonWriter& BeginArray() { return Open('['); }
    JsonWriter& EndArray() { return Close(']'); }
    // The name of the next member inside an object.
    JsonWriter& Key(const std::string& name);
    JsonWriter& Value(const std::string& text);
    JsonWriter& Value(const char* text) { return Value(std::string(text)); }
    JsonWriter& Value(double number);
    JsonWriter& Value(int64_t number);
    JsonWriter& Value(int number) { return Value(static_cast<int64_t>(number)); }
    JsonWriter& Value(std::size_t number) { return Value(static_cast<int64_t>(number)); }
    JsonWriter& Value(bool flag);

    const std::string& Text() const { return out; }

private:
    JsonWriter& Open(char bracket);
    JsonWriter& Close(char bracket);
    void BeforeValue();

    std::string out;
    std::vector<bool> firstInLevel;  // one per open object or array
    bool afterKey = false;
};

}  // namespace orvane_cli
