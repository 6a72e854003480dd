#include "cli/json_writer.h"

#include <cstdio>

namespace vantrove::cli {
namespace {

// Length of the valid UTF-8 sequence at s[i], or 0.
size_t Utf8Length(const std::string& s, size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n;
    uint32_t min;
    if (c < 0x80) return 1;
    if ((c & 0xE0) == 0xC0) {
        n = 2;
        min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3;
        min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    uint32_t cp = c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        const unsigned char d = static_cast<unsigned char>(s[i + k]);
        if ((d & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (d & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

}  // namespace

void JsonWriter::Separate() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!first_.empty()) {
        if (!first_.back()) text_ += ',';
        first_.back() = false;
    }
}

JsonWriter& JsonWriter::Open(char bracket) {
    Separate();
    text_ += bracket;
    first_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::Close(char bracket) {
    text_ += bracket;
    first_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::BeginObject() {
    return Open('{');
}

JsonWriter& JsonWriter::EndObject() {
    return Close('}');
}

JsonWriter& JsonWriter::BeginArray() {
    return Open('[');
}

JsonWriter& JsonWriter::EndArray() {
    return Close(']');
}

JsonWriter& JsonWriter::Key(const std::string& key) {
    Separate();
    Quoted(key);
    text_ += ':';
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::String(const std::string& value) {
    Separate();
    Quoted(value);
    return *this;
}

JsonWriter& JsonWriter::Number(int64_t value) {
    Separate();
    text_ += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    Separate();
    text_ += value ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::Number(uint64_t value) {
    Separate();
    text_ += std::to_string(value);
    return *this;
}

void JsonWriter::Quoted(const std::string& value) {
    text_ += '"';
    for (size_t i = 0; i < value.size();) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        size_t n = Utf8Length(value, i);
        if (n == 0) {
            text_ += "\\ufffd";
            ++i;
            continue;
        }
        if (n > 1) {
            text_.append(value, i, n);
            i += n;
            continue;
        }
        switch (c) {
            case '"':
                text_ += "\\\"";
                break;
            case '\\':
                text_ += "\\\\";
                break;
            case '\n':
                text_ += "\\n";
                break;
            case '\r':
                text_ += "\\r";
                break;
            case '\t':
                text_ += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                    text_ += buffer;
                } else {
                    text_ += static_cast<char>(c);
                }
        }
        ++i;
    }
    text_ += '"';
}

}  // namespace vantrove::cli
