#pragma once
// JsonWriter: a small writer of one JSON value, enough for the command line's
// reports. Strings are escaped; bytes that are not valid UTF-8 are written
// as U+FFFD so that the output always parses.

#include <cstdint>
#include <string>
#include <vector>

namespace vantrove::cli {

class JsonWriter {
  public:
    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    JsonWriter& Key(const std::string& key);
    JsonWriter& String(const std::string& value);
    JsonWriter& Number(int64_t value);
    JsonWriter& Bool(bool value);
    JsonWriter& Number(uint64_t value);
    JsonWriter& Number(int32_t value) { return Number(static_cast<int64_t>(value)); }
    JsonWriter& Number(uint32_t value) { return Number(static_cast<uint64_t>(value)); }

    const std::string& text() const { return text_; }

  private:
    void Separate();
    // Starts or ends an object or array with its bracket.
    JsonWriter& Open(char bracket);
    JsonWriter& Close(char bracket);
    void Quoted(const std::string& value);

    std::string text_;
    std::vector<bool> first_;  // per open container: nothing written yet
    bool afterKey_ = false;
};

}  // namespace vantrove::cli
