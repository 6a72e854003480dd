#pragma once
// JsonWriter: a small writer of one JSON value, enough for the command line's
// reports. Strings are escaped (control characters, C1 included, as \uXXXX);
// bytes that are not valid UTF-8 are written as U+FFFD so that the output
// always parses. A file name that is not valid UTF-8 keeps its exact bytes
// in a second member, see Name().

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
    // The member `key` with the file name `name`; when the name is not valid
    // UTF-8, also the member `key`Hex with its bytes in lower-case hex.
    JsonWriter& Name(const std::string& key, const std::string& name);
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
