#include "velmora/RangeToArc.h"

#include <cmath>
#include <cstddef>
#include <string>

#include "detail/Messages.h"

namespace {

// Limit tables: minimum and maximum angle in radians and direction (-1: byte 0 is the maximum
// angle) of every joint slot, per model and side. Constant-initialised, so they exist before any
// other code of the process runs.
constexpr double marlo_l_min[] = {0, 0, 0, 0, 0, 0, -0.52};
constexpr double marlo_l_max[] = {0.44, 1.43, 1.62, 1.62, 1.62, 1.62, 1.01};
constexpr int marlo_l_derict[] = {-1, -1, -1, -1, -1, -1, -1};
constexpr double marlo_r_min[] = {0, -1.43, 0, 0, 0, 0, 0};
constexpr double marlo_r_max[] = {0.75, 0, 1.62, 1.62, 1.62, 1.62, 1.54};
constexpr int marlo_r_derict[] = {-1, 0, -1, -1, -1, -1, -1};

constexpr double tovin_l_min[] = {0, 0, 0, 0, 0, 0, 0, -0.26, -0.26, -0.52};
constexpr double tovin_l_max[] = {1.45, 1.43, 1.62, 1.62, 1.62, 1.62, 0.26, 0, 0, 1.01};
constexpr int tovin_l_derict[] = {-1, -1, -1, -1, -1, -1, 0, -1, -1, -1};
constexpr double tovin_r_min[] = {0, 0, 0, 0, 0, 0, -0.26, 0, 0, -0.52};
constexpr double tovin_r_max[] = {0.75, 1.43, 1.62, 1.62, 1.62, 1.62, 0, 0.13, 0.26, 1.01};
constexpr int tovin_r_derict[] = {-1, -1, -1, -1, -1, -1, -1, 0, 0, -1};

constexpr double ravel_l_min[] = {0,     0, 0, 0, 0, -0.297, -0.26, -0.26, -0.26, -0.26,
                                  0.122, 0, 0, 0, 0, 0,      0,     0,     0,     0};
constexpr double ravel_l_max[] = {0.87, 1.4, 1.4, 1.4, 1.4, 0.683, 0.26, 0.26, 0.26, 0.26,
                                  1.78, 0,   0,   0,   0,   1.29,  1.08, 1.08, 1.08, 1.08};
constexpr int ravel_l_derict[] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                  -1, 0,  0,  0,  0,  -1, -1, -1, -1, -1};
constexpr double ravel_r_min[] = {0, 0, 0, 0, 0, -0.297, -0.26, -0.26, -0.26, -0.26,
                                  0, 0, 0, 0, 0, 0,      0,     0,     0,     0};
constexpr double ravel_r_max[] = {0.87, 1.4, 1.4, 1.4, 1.4, 0.683, 0.26, 0.26, 0.26, 0.26,
                                  1.78, 0,   0,   0,   0,   1.29,  1.08, 1.08, 1.08, 1.08};
constexpr int ravel_r_derict[] = {-1, -1, -1, -1, -1, -1, 0,  0,  0,  0,
                                  -1, 0,  0,  0,  0,  -1, -1, -1, -1, -1};

constexpr double sabre_l_min[] = {0, 0, 0, 0, 0, 0, 0, -0.18, -0.18, 0, -0.6, 0, 0,
                                  0, 0, 0, 0, 0, 0, 0, 0,     0,     0, 0,    0};
constexpr double sabre_l_max[] = {1,    1.57, 1.57, 1.57, 1.57, 1.6,  0.18, 0.18, 0.18,
                                  0.18, 0.6,  0,    0,    0,    0,    1.57, 0,    0,
                                  0,    0,    1.57, 1.57, 1.57, 1.57, 1.57};
constexpr int sabre_l_derict[] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, 0,  -1, 0, 0,
                                  0,  0,  -1, 0,  0,  0,  0,  -1, -1, -1, -1, -1};
constexpr double sabre_r_min[] = {0, 0, 0, 0, 0, 0, -0.18, -0.18, -0.18, -0.18, -0.6, 0, 0,
                                  0, 0, 0, 0, 0, 0, 0,     0,     0,     0,     0,    0};
constexpr double sabre_r_max[] = {1,    1.57, 1.57, 1.57, 1.57, 1.6,  0.18, 0.18, 0.18,
                                  0.18, 0.6,  0,    0,    0,    0,    1.57, 0,    0,
                                  0,    0,    1.57, 1.57, 1.57, 1.57, 1.57};
constexpr int sabre_r_derict[] = {-1, -1, -1, -1, -1, -1, 0, 0,  0,  0,  -1, 0, 0,
                                  0,  0,  -1, 0,  0,  0,  0, -1, -1, -1, -1, -1};

constexpr double zenit_l_min[] = {0, 0, 0, 0, 0, 0, -0.26, -0.26, -0.26, -0.26, -0.26, 0, 0,
                                  0, 0, 0, 0, 0, 0, 0,     0,     0,     0,     0,     0};
constexpr double zenit_l_max[] = {0.9,  1.57, 1.57, 1.57, 1.57, 1.3,  0.26, 0.26, 0.26,
                                  0.26, 0.61, 0,    0,    0,    0,    1.57, 1.57, 1.57,
                                  1.57, 1.57, 1.57, 1.57, 1.57, 1.57, 1.57};
constexpr int zenit_l_derict[] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                  -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
constexpr double zenit_r_min[] = {0, 0, 0, 0, 0, 0, -0.26, -0.26, -0.26, -0.26, -0.26, 0, 0,
                                  0, 0, 0, 0, 0, 0, 0,     0,     0,     0,     0,     0};
constexpr double zenit_r_max[] = {0.9,  1.57, 1.57, 1.57, 1.57, 1.3,  0.26, 0.26, 0.26,
                                  0.26, 0.61, 0,    0,    0,    0,    1.57, 1.57, 1.57,
                                  1.57, 1.57, 1.57, 1.57, 1.57, 1.57, 1.57};
constexpr int zenit_r_derict[] = {-1, -1, -1, -1, -1, -1, 0,  0,  0,  0,  -1, -1, -1,
                                  -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};

struct Limits {
    const double* min;
    const double* max;
    const int* derict;
    std::size_t size;
};

template <std::size_t N>
constexpr Limits limits(const double (&min)[N], const double (&max)[N], const int (&derict)[N]) {
    return {min, max, derict, N};
}

struct Layout {
    int key;
    Limits left;
    Limits right;
};

constexpr Layout kLayouts[] = {
    {7, limits(marlo_l_min, marlo_l_max, marlo_l_derict),
     limits(marlo_r_min, marlo_r_max, marlo_r_derict)},
    {10, limits(tovin_l_min, tovin_l_max, tovin_l_derict),
     limits(tovin_r_min, tovin_r_max, tovin_r_derict)},
    {20, limits(ravel_l_min, ravel_l_max, ravel_l_derict),
     limits(ravel_r_min, ravel_r_max, ravel_r_derict)},
    {21, limits(sabre_l_min, sabre_l_max, sabre_l_derict),
     limits(sabre_r_min, sabre_r_max, sabre_r_derict)},
    {25, limits(zenit_l_min, zenit_l_max, zenit_l_derict),
     limits(zenit_r_min, zenit_r_max, zenit_r_derict)},
};

const Limits* findLimits(int key, const std::string& side) {
    for (const Layout& layout : kLayouts) {
        if (layout.key == key) {
            if (side == "left")
                return &layout.left;
            if (side == "right")
                return &layout.right;
            return nullptr;
        }
    }
    return nullptr;
}

void reportInvalidParameters() {
    velmora::detail::message(velmora::MessageLevel::Error, velmora::detail::Stream::Err,
                             "Error: Invalid joints_type or left_or_right parameter.");
}

}  // namespace

bool initialize_params(int joints_type, const std::string& left_or_right, std::vector<double>& min,
                       std::vector<double>& max, std::vector<int>& derict) {
    min.clear();
    max.clear();
    derict.clear();
    if (const Limits* l = findLimits(joints_type, left_or_right)) {
        min.assign(l->min, l->min + l->size);
        max.assign(l->max, l->max + l->size);
        derict.assign(l->derict, l->derict + l->size);
    }
    return !min.empty() && !max.empty() && !derict.empty();
}

bool should_skip_joint(int joints_type, int joint_index) {
    switch (joints_type) {
        case 21:
            return (joint_index >= 11 && joint_index <= 14) ||
                   (joint_index >= 16 && joint_index <= 19);
        case 25:
            return joint_index >= 11 && joint_index <= 14;
        default:
            return false;
    }
}

double scale_value(double value, double in_min, double in_max, double out_min, double out_max) {
    return (out_max - out_min) * (value - in_min) / (in_max - in_min) + out_min;
}

double is_within_range(double value, double min, double max) {
    const double m = min < value ? value : min;
    return m < max ? m : max;
}

std::vector<double> range_to_arc(const int& joints_type, const std::string& left_or_right,
                                 const std::vector<std::uint8_t>& hand_range) {
    std::vector<double> min, max;
    std::vector<int> derict;
    if (!initialize_params(joints_type, left_or_right, min, max, derict)) {
        reportInvalidParameters();
        return {};
    }
    if (hand_range.size() != max.size()) {
        velmora::detail::message(velmora::MessageLevel::Error, velmora::detail::Stream::Err,
                                 "Error: Invalid hand_range size.");
        return {};
    }
    std::vector<double> arc(max.size(), 0.0);
    for (std::size_t i = 0; i < arc.size(); ++i) {
        if (should_skip_joint(joints_type, static_cast<int>(i)))
            continue;
        const double v = is_within_range(hand_range[i], 0.0, 255.0);
        arc[i] = derict[i] == -1 ? scale_value(v, 0.0, 255.0, max[i], min[i])
                                 : scale_value(v, 0.0, 255.0, min[i], max[i]);
    }
    return arc;
}

std::vector<std::uint8_t> arc_to_range(const int& joints_type, const std::string& left_or_right,
                                       const std::vector<double>& hand_arc) {
    std::vector<double> min, max;
    std::vector<int> derict;
    if (!initialize_params(joints_type, left_or_right, min, max, derict)) {
        reportInvalidParameters();
        return {};
    }
    if (hand_arc.size() != max.size()) {
        return {};
    }
    std::vector<std::uint8_t> range(max.size(), 0);
    for (std::size_t i = 0; i < range.size(); ++i) {
        if (should_skip_joint(joints_type, static_cast<int>(i)))
            continue;
        const double v = is_within_range(hand_arc[i], min[i], max[i]);
        const double s = derict[i] == -1 ? scale_value(v, min[i], max[i], 255.0, 0.0)
                                         : scale_value(v, min[i], max[i], 0.0, 255.0);
        // A joint whose limits coincide gives 0/0; its byte is 0 (never convert NaN to int).
        if (!std::isfinite(s))
            continue;
        range[i] = static_cast<std::uint8_t>(static_cast<std::int32_t>(std::round(s)) & 0xFF);
    }
    return range;
}
