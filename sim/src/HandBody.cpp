#include "velmora/sim/HandBody.h"

#include <algorithm>
#include <cmath>

namespace velmora {
namespace sim {

namespace {

// A finger touches the object in the hand at this closure; beyond it the pressure grows.
constexpr double kContactClosure = 0.5;
// Joint travel in range units per second: a floor plus the commanded speed's share.
constexpr double kMinRate = 20.0;
constexpr double kRatePerSpeedUnit = 2.0;
// Temperature settles at ambient + kHeatPerCurrent x current, with this time constant.
constexpr double kHeatPerCurrent = 0.35;
constexpr double kThermalRate = 0.2;  // per second
constexpr double kOverheatedAt = 70.0;

std::uint8_t toByte(double value) {
    return static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0, 255.0)));
}

}  // namespace

HandBody::HandBody(std::size_t joints, std::vector<std::vector<std::size_t>> fingerJoints)
    : joints_(joints), fingerJoints_(std::move(fingerJoints)) {
    fingerJoints_.resize(kFingers);
}

template <class Field>
void HandBody::write(std::size_t first, const ByteVector& values, Field field) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < values.size() && first + i < joints_.size(); ++i) {
        field(joints_[first + i], values[i]);
    }
}

template <class Get>
ByteVector HandBody::read(std::size_t first, std::size_t n, Get get) const {
    std::lock_guard<std::mutex> lock(mutex_);
    ByteVector out(n, 0);
    for (std::size_t i = 0; i < n && first + i < joints_.size(); ++i) {
        out[i] = get(joints_[first + i]);
    }
    return out;
}

void HandBody::setTargets(std::size_t first, const ByteVector& values) {
    write(first, values, [this](Joint& j, std::uint8_t v) {
        if (enabled_)
            j.target = v;
    });
}
void HandBody::setSpeeds(std::size_t first, const ByteVector& values) {
    write(first, values, [](Joint& j, std::uint8_t v) { j.speed = v; });
}
void HandBody::setTorques(std::size_t first, const ByteVector& values) {
    write(first, values, [](Joint& j, std::uint8_t v) { j.torque = v; });
}
void HandBody::setCurrentLimits(std::size_t first, const ByteVector& values) {
    write(first, values, [](Joint& j, std::uint8_t v) { j.currentLimit = v; });
}
void HandBody::setAccelerations(std::size_t first, const ByteVector& values) {
    write(first, values, [](Joint& j, std::uint8_t v) { j.acceleration = v; });
}

ByteVector HandBody::positions(std::size_t first, std::size_t n) const {
    return read(first, n, [](const Joint& j) { return toByte(j.position); });
}
ByteVector HandBody::targets(std::size_t first, std::size_t n) const {
    return read(first, n, [](const Joint& j) { return toByte(j.target); });
}
ByteVector HandBody::speeds(std::size_t first, std::size_t n) const {
    return read(first, n, [](const Joint& j) { return j.speed; });
}
ByteVector HandBody::torques(std::size_t first, std::size_t n) const {
    return read(first, n, [](const Joint& j) { return j.torque; });
}
ByteVector HandBody::currents(std::size_t first, std::size_t n) const {
    return read(first, n, [](const Joint& j) { return toByte(j.current); });
}
ByteVector HandBody::currentLimits(std::size_t first, std::size_t n) const {
    return read(first, n, [](const Joint& j) { return j.currentLimit; });
}
ByteVector HandBody::accelerations(std::size_t first, std::size_t n) const {
    return read(first, n, [](const Joint& j) { return j.acceleration; });
}
ByteVector HandBody::temperatures(std::size_t first, std::size_t n) const {
    return read(first, n, [](const Joint& j) { return toByte(j.temperature); });
}
ByteVector HandBody::faults(std::size_t first, std::size_t n) const {
    return read(first, n, [this](const Joint& j) {
        std::uint8_t code = static_cast<std::uint8_t>(j.fault | injectedFault_);
        if (j.temperature > kOverheatedAt)
            code |= kOverTemperature;
        return code;
    });
}
ByteVector HandBody::rotorLocks(std::size_t first, std::size_t n) const {
    return read(first, n, [](const Joint& j) { return j.locks; });
}

void HandBody::injectFault(std::uint8_t code) {
    std::lock_guard<std::mutex> lock(mutex_);
    injectedFault_ = code;
}

void HandBody::clearFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    injectedFault_ = 0;
    for (Joint& j : joints_)
        j.fault = 0;
}

void HandBody::setEnabled(bool enabled) {
    std::lock_guard<std::mutex> lock(mutex_);
    enabled_ = enabled;
    if (!enabled) {
        for (Joint& j : joints_)
            j.target = j.position;
    }
}

void HandBody::reHome() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Joint& j : joints_)
        j.target = 255;
}

void HandBody::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Joint& j : joints_)
        j = Joint{};
    injectedFault_ = 0;
    enabled_ = true;
}

double HandBody::closureLocked(std::size_t finger) const {
    const auto& members = fingerJoints_[finger];
    if (members.empty())
        return 0.0;
    double sum = 0;
    for (std::size_t j : members) {
        sum += j < joints_.size() ? (255.0 - joints_[j].position) / 255.0 : 0.0;
    }
    return sum / static_cast<double>(members.size());
}

double HandBody::closure(std::size_t finger) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return finger < kFingers ? closureLocked(finger) : 0.0;
}

void HandBody::step(double seconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<double> depth(kFingers);
    for (std::size_t f = 0; f < kFingers; ++f) {
        depth[f] = std::max(0.0, (closureLocked(f) - kContactClosure) / (1.0 - kContactClosure));
    }
    for (std::size_t i = 0; i < joints_.size(); ++i) {
        Joint& j = joints_[i];
        const double rate = kMinRate + kRatePerSpeedUnit * j.speed;
        const double step = std::clamp(j.target - j.position, -rate * seconds, rate * seconds);
        j.position += step;
        const double velocity = seconds > 0 ? std::abs(step) / seconds : 0.0;

        // Load from squeezing the object, for the joints that close a finger in contact.
        double load = 0;
        for (std::size_t f = 0; f < kFingers; ++f) {
            const auto& members = fingerJoints_[f];
            if (std::find(members.begin(), members.end(), i) != members.end()) {
                load = std::max(load, depth[f] * j.torque * 0.6);
            }
        }
        const bool blocked = load > 0.8 * j.currentLimit;
        if (blocked && !j.blocked && j.locks < 255)
            ++j.locks;
        j.blocked = blocked;

        j.current = std::min<double>(2.0 + velocity / 8.0 + load, j.currentLimit);
        const double settled = kAmbientTemperature + kHeatPerCurrent * j.current;
        j.temperature += (settled - j.temperature) * std::min(1.0, kThermalRate * seconds);
    }
}

double HandBody::pressure(std::size_t finger, std::size_t row, std::size_t column) const {
    const double depth =
        std::max(0.0, (closureLocked(finger) - kContactClosure) / (1.0 - kContactClosure));
    if (depth <= 0)
        return 0.0;
    // The contact patch is centred near the fingertip and spreads as the finger presses in.
    const double radius = 1.0 + depth * 6.0;
    const double dr = static_cast<double>(row) - 3.0;
    const double dc = (static_cast<double>(column) - 2.5) * 1.5;
    const double falloff = 1.0 - std::sqrt(dr * dr + dc * dc) / radius;
    return falloff > 0 ? 255.0 * (0.3 + 0.7 * depth) * falloff : 0.0;
}

ByteMatrix HandBody::fingerMatrix(std::size_t finger) const {
    std::lock_guard<std::mutex> lock(mutex_);
    ByteMatrix rows(kMatrixRows, ByteVector(kMatrixColumns, 0));
    if (finger >= kFingers)
        return rows;
    for (std::size_t r = 0; r < kMatrixRows; ++r) {
        for (std::size_t c = 0; c < kMatrixColumns; ++c) {
            rows[r][c] = toByte(pressure(finger, r, c));
        }
    }
    return rows;
}

ByteVector HandBody::fingerSummary(std::size_t finger) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finger >= kFingers)
        return ByteVector(models::kSummaryValues, 0);
    double total = 0;
    for (std::size_t r = 0; r < kMatrixRows; ++r) {
        for (std::size_t c = 0; c < kMatrixColumns; ++c)
            total += pressure(finger, r, c);
    }
    const double normal = total / 20.0;
    const double closure = closureLocked(finger);
    // Approach: rises while the finger nears the object, full once it touches.
    const double approach = std::min(1.0, closure / kContactClosure) * 255.0;
    return {toByte(normal), toByte(normal / 3.0), static_cast<std::uint8_t>(40 * finger + 20),
            toByte(approach)};
}

}  // namespace sim
}  // namespace velmora
