#pragma once
// FormatText: fills the printf-style specifiers of a string-table text.
//
// The texts of the string table carry C specifiers ("%d", "%s", "%0.1f",
// "%d.%1d%%", and possibly Windows-style "%I64d"). FormatText reads the format
// itself and formats each value by the type it really has, so a specifier and
// a value that disagree (an "%I64d" given a 32-bit number, a "%s" given a
// number, a missing value) can never read the wrong thing off the stack.
// Values are only ever values: user text (file names, set names) is never
// taken as a format. Pure functions; any thread.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace vantrove {

// One value for one specifier: a signed or unsigned integer, a floating-point
// number or a text.
class TextArg {
  public:
    enum class Kind { Signed, Unsigned, Double, Text };

    TextArg(int value) : kind_(Kind::Signed), signed_(value) {}
    TextArg(long value) : kind_(Kind::Signed), signed_(value) {}
    TextArg(long long value) : kind_(Kind::Signed), signed_(value) {}
    TextArg(unsigned value) : kind_(Kind::Unsigned), unsigned_(value) {}
    TextArg(unsigned long value) : kind_(Kind::Unsigned), unsigned_(value) {}
    TextArg(unsigned long long value) : kind_(Kind::Unsigned), unsigned_(value) {}
    TextArg(double value) : kind_(Kind::Double), double_(value) {}
    TextArg(const char* text) : kind_(Kind::Text), text_(text ? text : "") {}
    TextArg(std::string_view text) : kind_(Kind::Text), text_(text) {}
    TextArg(const std::string& text) : kind_(Kind::Text), text_(text) {}

    Kind kind() const { return kind_; }
    int64_t signedValue() const { return signed_; }
    uint64_t unsignedValue() const { return unsigned_; }
    double doubleValue() const { return double_; }
    std::string_view text() const { return text_; }

  private:
    Kind kind_;
    int64_t signed_ = 0;
    uint64_t unsigned_ = 0;
    double double_ = 0;
    std::string_view text_;
};

// Fills `format` with `args`, one per specifier in order. Understood:
// "%%"; flags "-+ #0"; a width and a precision in digits; the length
// modifiers hh h l ll L q j z t I I32 I64 (read and ignored: the value's own
// type decides); conversions d i u x X o c f F e E g G s. A specifier without
// a value gives nothing; an unknown conversion is copied as written.
std::string FormatText(std::string_view format, std::initializer_list<TextArg> args);

// FormatText over the string-table text `id` (core/string_ids.h).
std::string FormatString(int id, std::initializer_list<TextArg> args);

}  // namespace vantrove
