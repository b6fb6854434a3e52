#include "quillon/report/json.h"

#include <cinttypes>

namespace quillon {

namespace {

// The length of a well-formed UTF-8 sequence at `i`, or 0.
size_t SequenceLength(const std::string& s, size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    }
    return n;
}

}  // namespace

std::string JsonQuote(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t n = SequenceLength(text, i);
        if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(text, i, n);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
        i += n;
    }
    return out + "\"";
}

JsonWriter::~JsonWriter() {
    if (depth_ == 0 && !first_) std::fputc('\n', out_);
}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!first_ && depth_ > 0) std::fputc(',', out_);
    first_ = false;
}

JsonWriter& JsonWriter::Key(const char* key) {
    if (!first_) std::fputc(',', out_);
    first_ = false;
    std::fprintf(out_, "%s:", JsonQuote(key).c_str());
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::BeginObject() {
    BeforeValue();
    std::fputc('{', out_);
    ++depth_;
    first_ = true;
    return *this;
}

JsonWriter& JsonWriter::EndObject() {
    std::fputc('}', out_);
    --depth_;
    first_ = false;
    return *this;
}

JsonWriter& JsonWriter::BeginArray() {
    BeforeValue();
    std::fputc('[', out_);
    ++depth_;
    first_ = true;
    return *this;
}

JsonWriter& JsonWriter::EndArray() {
    std::fputc(']', out_);
    --depth_;
    first_ = false;
    return *this;
}

JsonWriter& JsonWriter::String(const std::string& text) {
    BeforeValue();
    std::fputs(JsonQuote(text).c_str(), out_);
    return *this;
}

JsonWriter& JsonWriter::Number(uint64_t value) {
    BeforeValue();
    std::fprintf(out_, "%" PRIu64, value);
    return *this;
}

JsonWriter& JsonWriter::Signed(int64_t value) {
    BeforeValue();
    std::fprintf(out_, "%" PRId64, value);
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    BeforeValue();
    std::fputs(value ? "true" : "false", out_);
    return *this;
}

JsonWriter& JsonWriter::Null() {
    BeforeValue();
    std::fputs("null", out_);
    return *this;
}

}  // namespace quillon
