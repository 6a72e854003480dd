#include "engine/name_match.h"

#include <cctype>

#include "core/path.h"

namespace vantrove {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Index just past the folder part ('/' ends a folder).
size_t NameStart(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// Start of the run of digits that ends just before `end`.
size_t DigitRunStart(const std::string& s, size_t begin, size_t end) {
    while (end > begin && IsDigit(s[end - 1])) --end;
    return end;
}

}  // namespace

std::string WithoutCopySuffix(const std::string& name) {
    const size_t start = NameStart(name);
    const size_t n = name.size();

    // ".N" or ".N-M"
    size_t digits = DigitRunStart(name, start, n);
    if (digits < n && digits > start) {
        if (name[digits - 1] == '.') return name.substr(0, digits - 1);
        if (name[digits - 1] == '-') {
            size_t first = DigitRunStart(name, start, digits - 1);
            if (first < digits - 1 && first > start && name[first - 1] == '.') {
                return name.substr(0, first - 1);
            }
        }
    }

    // "(N).tmp", also taking a '.' that stands before the '('.
    static constexpr size_t kTmp = 4;
    if (n - start >= kTmp + 3 && EqualNoCase(std::string_view(name).substr(n - kTmp), ".tmp") &&
        name[n - kTmp - 1] == ')') {
        size_t close = n - kTmp - 1;
        size_t first = DigitRunStart(name, start, close);
        if (first < close && first > start && name[first - 1] == '(') {
            size_t cut = first - 1;
            if (cut > start && name[cut - 1] == '.') --cut;
            return name.substr(0, cut);
        }
    }
    return name;
}

std::string WithoutCopyInfix(const std::string& name) {
    const size_t start = NameStart(name);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot < start || dot < 3 || dot - start < 4) return name;

    // Digits preceded by '.', '-' or '_'.
    size_t digits = DigitRunStart(name, start, dot);
    if (digits < dot && digits > start) {
        char separator = name[digits - 1];
        if (separator == '.' || separator == '-' || separator == '_') {
            return name.substr(0, digits - 1) + name.substr(dot);
        }
    }
    // ".(...)"
    if (name[dot - 1] == ')') {
        size_t open = name.rfind('(', dot - 1);
        if (open != std::string::npos && open > start && name[open - 1] == '.') {
            return name.substr(0, open - 1) + name.substr(dot);
        }
    }
    return name;
}

std::vector<std::string> CopyNameForms(const std::string& path) {
    std::vector<std::string> forms{path};
    auto add = [&forms](std::string form) {
        if (form != forms.back()) forms.push_back(std::move(form));
    };
    add(WithoutCopySuffix(forms.back()));
    add(WithoutCopyInfix(forms.back()));
    add(WithoutCopySuffix(forms.back()));

    std::string sanitised = forms.back();
    for (size_t i = NameStart(sanitised); i < sanitised.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(sanitised[i]);
        if (!std::isalnum(c) && c != '.') sanitised[i] = '?';
    }
    add(std::move(sanitised));
    return forms;
}

}  // namespace vantrove
