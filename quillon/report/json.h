// Machine-readable output of quillon's commands (--json): a small writer of
// JSON text, one value at a time, to stdout.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace quillon {

class JsonWriter {
public:
    explicit JsonWriter(std::FILE* out = stdout) : out_(out) {}
    ~JsonWriter();

    // Inside an object, every value is preceded by Key().
    JsonWriter& Key(const char* key);
    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    JsonWriter& String(const std::string& text);  // UTF-8; other bytes are shown as U+FFFD
    JsonWriter& Number(uint64_t value);
    JsonWriter& Signed(int64_t value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

private:
    void BeforeValue();

    std::FILE* out_;
    int depth_ = 0;
    bool first_ = true;      // no value yet at this depth
    bool afterKey_ = false;  // a key was written; its value follows
};

// `text` as a JSON string literal, quotes included.
std::string JsonQuote(const std::string& text);

}  // namespace quillon
