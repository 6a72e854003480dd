#include "cli/json_writer.h"

#include <cstdio>

#include "cli/terminal_name.h"

namespace vantrove::cli {

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

JsonWriter& JsonWriter::Name(const std::string& key, const std::string& name) {
    Key(key).String(name);
    if (IsValidUtf8(name)) return *this;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(name.size() * 2);
    for (const char byte : name) {
        hex += kDigits[static_cast<unsigned char>(byte) >> 4];
        hex += kDigits[static_cast<unsigned char>(byte) & 15];
    }
    return Key(key + "Hex").String(hex);
}

void JsonWriter::Quoted(const std::string& value) {
    text_ += '"';
    for (size_t i = 0; i < value.size();) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        size_t n = Utf8SequenceLength(value, i);
        if (n == 0) {
            text_ += "\\ufffd";
            ++i;
            continue;
        }
        // The C1 controls are escaped like the C0 ones, so that the report
        // printed on a terminal never holds one raw.
        if (n == 2 && c == 0xC2 && static_cast<unsigned char>(value[i + 1]) < 0xA0) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x",
                          static_cast<unsigned char>(value[i + 1]));
            text_ += buffer;
            i += n;
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
                if (c < 0x20 || c == 0x7F) {
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
