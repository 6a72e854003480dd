#include "ui/texts/create_dialog_texts.h"

#include <algorithm>
#include <limits>

#include "app/make_folders.h"
#include "core/string_ids.h"
#include "ui/texts/text_format.h"

namespace vantrove {

namespace {

constexpr int64_t kKiB = 1024;
constexpr int64_t kMiB = 1024 * 1024;

}  // namespace

std::string CalculationTimeCaption(int64_t b) {
    if (b < 0) b = 0;
    if (b >= 100 * kMiB) return FormatString(kStrCalcTimeCaptionMBs, {b / kMiB});
    if (b >= 10 * kMiB) {
        const int64_t tenths = 10 * b / kMiB;
        return FormatString(kStrCalcTimeCaptionMBsTenths, {tenths / 10, tenths % 10});
    }
    if (b >= kMiB) {
        const int64_t hundredths = 100 * b / kMiB;
        return FormatString(kStrCalcTimeCaptionMBsHundredths, {hundredths / 100, hundredths % 100});
    }
    return FormatString(kStrCalcTimeCaptionKBs, {b / kKiB});
}

std::string EstimatedTimeText(uint64_t seconds) {
    const uint64_t hours = seconds / 3600;
    if (hours > 0) return FormatString(kStrEstimateHoursMinutes, {hours, seconds / 60 % 60});
    if (seconds >= 60)
        return FormatString(kStrEstimateMinutesSeconds, {seconds / 60, seconds % 60});
    return FormatString(kStrEstimateSeconds, {seconds});
}

std::string EfficiencyText(uint32_t tenths) {
    return FormatText("%d.%01d%%", {tenths / 10, tenths % 10});
}

std::string RebuildableFilesText(uint32_t minimum, uint32_t maximum) {
    return FormatText("%d - %d", {minimum, maximum});
}

std::string RedundancyText(uint32_t hundredths) {
    return FormatText("%d.%02d%%", {hundredths / 100, hundredths % 100});
}

bool ReadTypedNumber(const std::string& text, uint64_t& value) {
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    bool any = false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') continue;
        any = true;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return any;
}

uint64_t TypedBlockSize(uint64_t typed, uint64_t current, uint64_t granule, uint64_t minimum,
                        uint64_t maximum) {
    if (granule == 0) granule = 4;
    uint64_t size = typed;
    if (typed > current) {
        const uint64_t down = typed / granule * granule;
        size = down == typed || down > std::numeric_limits<uint64_t>::max() - granule
                   ? down
                   : down + granule;
    } else if (typed < current) {
        size = typed / granule * granule;
    }
    if (size < minimum) size = minimum;
    if (size > maximum) size = maximum;
    return size;
}

std::string CreationBaseName(const std::string& typed, const std::string& defaultBaseName,
                             const std::string& folderBaseName) {
    std::string name =
        !typed.empty() ? typed : (!defaultBaseName.empty() ? defaultBaseName : folderBaseName);
    while (!name.empty() && name.back() == '.') name.pop_back();
    return name;
}

std::string DestinationFolder(const std::string& typed, const std::string& defaultPath) {
    return DestinationFolder(typed, defaultPath, HomeFolder());
}

std::string DestinationFolder(const std::string& typed, const std::string& defaultPath,
                              const std::string& home) {
    std::string path = typed.empty() ? defaultPath : typed;
    if (!typed.empty() && typed.front() == '~' && (typed.size() == 1 || typed[1] == '/') &&
        !home.empty() && home.front() == '/') {
        std::string base = home;
        while (!base.empty() && base.back() == '/') base.pop_back();
        path = base + "/" + typed.substr(std::min<size_t>(typed.size(), 2));
    }
    if (path.empty() || path.front() != '/') {
        std::string base = defaultPath;
        if (!base.empty() && base.back() != '/') base += '/';
        // A default folder that is not absolute either (no file list) leaves
        // nothing to build on; the path is taken as it stands.
        path = typed.empty() ? base : base + path;
    }
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

std::string DestinationTestPath(const std::string& folder) {
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string StoredNameClashText(const std::string& name, const std::string& first,
                                const std::string& second) {
    return "Due file avrebbero lo stesso nome \"" + name + "\" nei volumi di recupero:\n\n" +
           first + "\n" + second + "\n\nTogliere uno dei due dalla lista.";
}

}  // namespace vantrove
