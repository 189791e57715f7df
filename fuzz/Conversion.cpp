// The joint conversion functions with any key, side and vector.
//
// Input: a key byte (below 0xF0 one of the keys below, else four raw bytes follow), a side byte
// (0 "left", 1 "right", else a length byte and that many bytes), an operation byte (bit 0
// range_to_arc of the rest as bytes, bit 1 arc_to_range of the rest as doubles).
#include <algorithm>
#include <cmath>

#include "FuzzInput.h"
#include "velmora/RangeToArc.h"

using namespace velmora;

namespace {

constexpr int kKeys[] = {7, 10, 20, 21, 25, 6, 0, -1};

void checkArc(int key, const std::string& side, const ByteVector& range) {
    const std::vector<double> arc = range_to_arc(key, side, range);
    std::vector<double> min, max;
    std::vector<int> direction;
    const bool known = initialize_params(key, side, min, max, direction);
    if (!known || range.size() != max.size()) {
        if (!arc.empty())
            fuzz::violated("range_to_arc converts only a known layout's length");
        return;
    }
    if (arc.size() != max.size())
        fuzz::violated("range_to_arc gives one angle per joint");
    for (std::size_t i = 0; i < arc.size(); ++i) {
        const double low = std::min(min[i], max[i]) - 1e-9;
        const double high = std::max(min[i], max[i]) + 1e-9;
        if (!std::isfinite(arc[i]) ||
            (!should_skip_joint(key, static_cast<int>(i)) && (arc[i] < low || arc[i] > high))) {
            fuzz::violated("range_to_arc stays within the joint's limits");
        }
    }
    // Back to bytes: every joint with a range comes back as the byte it started as.
    const ByteVector again = arc_to_range(key, side, arc);
    if (again.size() != range.size())
        fuzz::violated("arc_to_range converts what range_to_arc gave");
    for (std::size_t i = 0; i < again.size(); ++i) {
        if (!should_skip_joint(key, static_cast<int>(i)) && max[i] > min[i] &&
            again[i] != range[i]) {
            fuzz::violated("bytes survive the round trip through radians");
        }
    }
}

void checkRange(int key, const std::string& side, const std::vector<double>& arc) {
    const ByteVector range = arc_to_range(key, side, arc);
    std::vector<double> min, max;
    std::vector<int> direction;
    const bool known = initialize_params(key, side, min, max, direction);
    if (!known || arc.size() != max.size()) {
        if (!range.empty())
            fuzz::violated("arc_to_range converts only a known layout's length");
        return;
    }
    if (range.size() != max.size())
        fuzz::violated("arc_to_range gives one byte per joint");
    for (std::size_t i = 0; i < range.size(); ++i) {
        if (should_skip_joint(key, static_cast<int>(i)) && range[i] != 0)
            fuzz::violated("skipped joints stay 0");
    }
    for (double value : arc) {
        const double clamped = is_within_range(value, -1.0, 1.0);
        if (!(clamped >= -1.0 && clamped <= 1.0))
            fuzz::violated("is_within_range clamps every value");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLibrary();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Reader in(data, size);
    const std::uint8_t keyByte = in.byte();
    const int key = keyByte < 0xF0 ? kKeys[keyByte % (sizeof kKeys / sizeof kKeys[0])]
                                   : static_cast<int>(in.u32());
    const std::uint8_t sideByte = in.byte();
    std::string side;
    if (sideByte == 0) {
        side = "left";
    } else if (sideByte == 1) {
        side = "right";
    } else {
        const ByteVector text = in.bytes(in.byte());
        side.assign(text.begin(), text.end());
    }
    const std::uint8_t operations = in.byte();
    if (operations & 1) {
        checkArc(key, side, in.rest());
    } else if (operations & 2) {
        checkRange(key, side, in.restAsDoubles());
    }
    for (int index : {-1, 0, 11, 15, 24, 25, key}) {
        should_skip_joint(key, index);
    }
    return 0;
}
