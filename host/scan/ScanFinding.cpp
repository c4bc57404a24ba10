#include "ScanFinding.h"

#include "HexText.h"
#include "LineChoices.h"
#include "LossNotes.h"

#include <cstdio>

namespace {

// Garbage is shown by its first bytes only.
constexpr std::size_t kShownBytes = 16;

std::string Milliseconds(std::chrono::microseconds time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f ms", static_cast<double>(time.count()) / 1000.0);
    return text;
}

std::string FirstBytes(const std::vector<unsigned char>& bytes) {
    std::string text = HexText(bytes.data(), std::min(bytes.size(), kShownBytes));
    if (bytes.size() > kShownBytes)
        text += " ...";
    return text;
}

}  // namespace

const char* ScanFinding::KindName(Kind kind) {
    switch (kind) {
    case Kind::kMeterBlock:
        return "meter block";
    case Kind::kStandard:
        return "standard answer";
    case Kind::kException:
        return "exception";
    case Kind::kGarbage:
        break;
    }
    return "garbage";
}

std::string ScanFinding::Brief() const {
    return "station " + std::to_string(station) + " at " + LineChoices::FramingText(line) + " (" +
           KindName(kind) + ")";
}

std::string ScanFinding::Text() const {
    std::string text = "found: station " + std::to_string(station) + " at " +
                       LineChoices::FramingText(line) + ", " + Milliseconds(response) + ": ";
    switch (kind) {
    case Kind::kMeterBlock:
        text += "the meter's " + std::to_string(bytes.size()) + "-byte block:";
        for (std::size_t i = 0; i < values.size(); ++i)
            text += (i == 0 ? " " : ", ") + values[i].key + " " + values[i].text + " " +
                    values[i].unit;
        break;
    case Kind::kStandard:
        text += "a standard " + std::to_string(bytes.size()) +
                "-byte answer, not the driver's block (another make of meter?): " +
                FirstBytes(bytes);
        break;
    case Kind::kException:
        text += "Modbus exception " + HexText(&bytes[2], 1) + " (" +
                LossNotes::ExceptionName(bytes[2]) + ")";
        break;
    case Kind::kGarbage:
        text += "garbage, " + std::to_string(bytes.size()) + (bytes.size() == 1 ? " byte" : " bytes") +
                (why.empty() ? "" : " (" + why + ")") + ": " + FirstBytes(bytes);
        break;
    }
    return text;
}
