#include "ui/texts/text_format.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "core/string_table.h"

namespace vantrove {

namespace {

// Width and precision beyond this are cut: no text of ours needs more, and a
// stray "%999999999d" must not allocate without bound.
constexpr int kMaxField = 512;

bool IsFlag(char c) {
    return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0';
}

// Reads a run of digits at `i`, capped at kMaxField.
int ReadNumber(std::string_view format, size_t& i) {
    int value = 0;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
        value = value * 10 + (format[i] - '0');
        if (value > kMaxField) value = kMaxField;
        ++i;
    }
    return value;
}

// Skips the length modifiers at `i`.
void SkipLength(std::string_view format, size_t& i) {
    while (i < format.size()) {
        char c = format[i];
        if (c == 'h' || c == 'l' || c == 'L' || c == 'q' || c == 'j' || c == 'z' || c == 't') {
            ++i;
        } else if (c == 'I') {
            ++i;
            if (format.substr(i, 2) == "64" || format.substr(i, 2) == "32") i += 2;
        } else {
            return;
        }
    }
}

// snprintf of one numeric specifier into `out`.
template <typename T>
void AppendPrintf(std::string& out, const std::string& spec, T value) {
    char buffer[kMaxField * 2 + 64];
    int length = std::snprintf(buffer, sizeof buffer, spec.c_str(), value);
    if (length > 0) out.append(buffer, std::min<size_t>(length, sizeof buffer - 1));
}

std::string DecimalOf(const TextArg& arg) {
    switch (arg.kind()) {
        case TextArg::Kind::Signed:
            return std::to_string(arg.signedValue());
        case TextArg::Kind::Unsigned:
            return std::to_string(arg.unsignedValue());
        case TextArg::Kind::Double: {
            std::string out;
            AppendPrintf(out, "%g", arg.doubleValue());
            return out;
        }
        case TextArg::Kind::Text:
            return std::string(arg.text());
    }
    return {};
}

// A text padded to `width` (left-aligned with '-') and cut to `precision`.
void AppendText(std::string& out, std::string_view text, std::string_view flags, int width,
                int precision) {
    if (precision >= 0 && text.size() > static_cast<size_t>(precision)) {
        text = text.substr(0, precision);
    }
    size_t pad = width > 0 && text.size() < static_cast<size_t>(width) ? width - text.size() : 0;
    bool left = flags.find('-') != std::string_view::npos;
    if (!left) out.append(pad, ' ');
    out.append(text);
    if (left) out.append(pad, ' ');
}

void AppendValue(std::string& out, char conversion, std::string_view flags, int width,
                 int precision, const TextArg& arg) {
    std::string spec = "%";
    spec.append(flags);
    if (width > 0) spec += std::to_string(width);
    if (precision >= 0) {
        spec += '.';
        spec += std::to_string(precision);
    }

    switch (conversion) {
        case 's':
            AppendText(out, arg.kind() == TextArg::Kind::Text ? arg.text() : DecimalOf(arg), flags,
                       width, precision);
            return;
        case 'c':
            if (arg.kind() == TextArg::Kind::Text) {
                AppendText(out, arg.text().substr(0, 1), flags, width, -1);
            } else {
                char c = static_cast<char>(
                    arg.kind() == TextArg::Kind::Signed ? arg.signedValue() : arg.unsignedValue());
                AppendText(out, std::string_view(&c, 1), flags, width, -1);
            }
            return;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G': {
            double value = 0;
            switch (arg.kind()) {
                case TextArg::Kind::Signed:
                    value = static_cast<double>(arg.signedValue());
                    break;
                case TextArg::Kind::Unsigned:
                    value = static_cast<double>(arg.unsignedValue());
                    break;
                case TextArg::Kind::Double:
                    value = arg.doubleValue();
                    break;
                case TextArg::Kind::Text:
                    AppendText(out, arg.text(), flags, width, -1);
                    return;
            }
            AppendPrintf(out, spec + conversion, value);
            return;
        }
        default:
            break;
    }

    // d i u x X o: integers, formatted by the value's own signedness.
    switch (arg.kind()) {
        case TextArg::Kind::Text:
            AppendText(out, arg.text(), flags, width, -1);
            return;
        case TextArg::Kind::Double:
            AppendPrintf(out, spec + ".0f", arg.doubleValue());
            return;
        case TextArg::Kind::Signed: {
            long long value = arg.signedValue();
            if (conversion == 'd' || conversion == 'i') {
                AppendPrintf(out, spec + "lld", value);
            } else {
                AppendPrintf(out, spec + "ll" + conversion, static_cast<unsigned long long>(value));
            }
            return;
        }
        case TextArg::Kind::Unsigned: {
            unsigned long long value = arg.unsignedValue();
            char c = conversion == 'd' || conversion == 'i' ? 'u' : conversion;
            AppendPrintf(out, spec + "ll" + c, value);
            return;
        }
    }
}

}  // namespace

std::string FormatText(std::string_view format, std::initializer_list<TextArg> args) {
    std::string out;
    out.reserve(format.size() + 32);
    const TextArg* next = args.begin();
    size_t i = 0;
    while (i < format.size()) {
        char c = format[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        size_t start = i++;
        if (i < format.size() && format[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        size_t flagsStart = i;
        while (i < format.size() && IsFlag(format[i])) ++i;
        std::string_view flags = format.substr(flagsStart, i - flagsStart);
        int width = ReadNumber(format, i);
        int precision = -1;
        if (i < format.size() && format[i] == '.') {
            ++i;
            precision = ReadNumber(format, i);
        }
        SkipLength(format, i);
        if (i >= format.size()) {
            out.append(format.substr(start));
            break;
        }
        char conversion = format[i++];
        switch (conversion) {
            case 'd':
            case 'i':
            case 'u':
            case 'x':
            case 'X':
            case 'o':
            case 'c':
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G':
            case 's':
                if (next != args.end())
                    AppendValue(out, conversion, flags, width, precision, *next++);
                break;
            default:
                out.append(format.substr(start, i - start));
                break;
        }
    }
    return out;
}

std::string FormatString(int id, std::initializer_list<TextArg> args) {
    return FormatText(GetString(id), args);
}

}  // namespace vantrove
