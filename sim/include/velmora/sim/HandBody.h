#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "velmora/Models.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace sim {

/// The mechanics of a simulated hand: joints that move toward their targets at a rate set by
/// their speed, motor currents and temperatures that follow the load, and fingertip sensors
/// whose contact pattern grows as a finger closes on an object. Joint values use the wire's
/// 0..255 range; for flexion joints 255 is open and 0 closed. Thread-safe.
class HandBody {
  public:
    static constexpr std::size_t kFingers = models::kFingers;
    static constexpr std::size_t kMatrixRows = models::kMatrixRows;
    static constexpr std::size_t kMatrixColumns = models::kMatrixColumns;
    static constexpr std::uint8_t kAmbientTemperature = 30;
    /// Fault bit set while a motor is too hot.
    static constexpr std::uint8_t kOverTemperature = 0x04;

    /// `fingerJoints[f]` lists the flexion joints of finger f, which decide its closure.
    HandBody(std::size_t joints, std::vector<std::vector<std::size_t>> fingerJoints);

    std::size_t joints() const { return joints_.size(); }

    /// Write `values` into joints first, first + 1, ...; values beyond the last joint are
    /// ignored.
    void setTargets(std::size_t first, const ByteVector& values);
    void setSpeeds(std::size_t first, const ByteVector& values);
    void setTorques(std::size_t first, const ByteVector& values);
    void setCurrentLimits(std::size_t first, const ByteVector& values);
    void setAccelerations(std::size_t first, const ByteVector& values);

    /// n values from joint first on; joints beyond the last read as 0.
    ByteVector positions(std::size_t first, std::size_t n) const;
    ByteVector targets(std::size_t first, std::size_t n) const;
    ByteVector speeds(std::size_t first, std::size_t n) const;
    ByteVector torques(std::size_t first, std::size_t n) const;
    ByteVector currents(std::size_t first, std::size_t n) const;
    ByteVector currentLimits(std::size_t first, std::size_t n) const;
    ByteVector accelerations(std::size_t first, std::size_t n) const;
    ByteVector temperatures(std::size_t first, std::size_t n) const;
    ByteVector faults(std::size_t first, std::size_t n) const;
    /// Times each joint was found blocked (pushing against an object at its torque limit).
    ByteVector rotorLocks(std::size_t first, std::size_t n) const;

    /// Every joint reports `code` until the faults are cleared.
    void injectFault(std::uint8_t code);
    void clearFaults();
    /// Motors off: joints stop where they are and ignore targets.
    void setEnabled(bool enabled);
    /// Drive every joint back to its open position.
    void reHome();
    /// Open position, default speeds and torques, faults cleared.
    void reset();

    /// Advances the mechanics by `seconds`.
    void step(double seconds);

    /// 0 (open) .. 1 (closed) for finger f.
    double closure(std::size_t finger) const;
    /// Finger f's kMatrixRows x kMatrixColumns pressure matrix.
    ByteMatrix fingerMatrix(std::size_t finger) const;
    /// Finger f's summary: normal force, tangential force, its direction, approach increment.
    ByteVector fingerSummary(std::size_t finger) const;

  private:
    struct Joint {
        double position = 255;
        double target = 255;
        std::uint8_t speed = 128;
        std::uint8_t torque = 200;
        std::uint8_t currentLimit = 200;
        std::uint8_t acceleration = 128;
        double current = 0;
        double temperature = kAmbientTemperature;
        std::uint8_t fault = 0;
        std::uint8_t locks = 0;
        bool blocked = false;
    };

    template <class Field>
    void write(std::size_t first, const ByteVector& values, Field field);
    template <class Get>
    ByteVector read(std::size_t first, std::size_t n, Get get) const;
    double closureLocked(std::size_t finger) const;
    double pressure(std::size_t finger, std::size_t row, std::size_t column) const;

    mutable std::mutex mutex_;
    std::vector<Joint> joints_;
    std::vector<std::vector<std::size_t>> fingerJoints_;
    std::uint8_t injectedFault_ = 0;
    bool enabled_ = true;
};

}  // namespace sim
}  // namespace velmora
