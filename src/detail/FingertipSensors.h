#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "velmora/Protocol.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace hand {
namespace detail {

/// The fingertip force sensors of one hand: the sensor kind the hand reported and the per-finger
/// data, 5 fingers x 12 rows x 6 bytes for matrix sensors. Every access takes the lock.
class FingertipSensors {
  public:
    static constexpr std::size_t kFingers = models::kFingers;
    static constexpr std::size_t kMatrixRows = models::kMatrixRows;
    static constexpr std::size_t kMatrixRowBytes = models::kMatrixColumns;
    static constexpr std::size_t kSummaryBytes = models::kSummaryValues;

    struct State {
        std::uint8_t mode = 0;  ///< sensor kind; TOUCH_TYPE_MATRIX means matrix sensors
        ForceData matrices;
    };

    FingertipSensors();

    /// Runs f(State&) with the lock held.
    template <class F>
    decltype(auto) locked(F&& f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(state_);
    }

    std::uint8_t mode() const;
    void setMode(std::uint8_t mode);
    ForceData matrices() const;

    /// A sensor-kind report (code 0xB0): byte 1 from 1 to 3 becomes the mode.
    void onKindReport(const ByteVector& frame);
    /// A frame with a code from 0xB1 to 0xB5 (finger 0 to 4): three bytes announce matrix
    /// sensors; in matrix mode, eight bytes carry one row, its number in the high nibble of
    /// byte 1 and its six values in bytes 2 to 7. Anything else is dropped.
    void onMatrixFrame(const ByteVector& frame);
    /// Copies the values of a summary reply (bytes 1 on) over the start of the finger's row 0,
    /// never past the row's end.
    void storeSummary(std::size_t finger, const ByteVector& frame);
    /// For sensors that report one summary row per finger: 5 fingers x 1 row x 4 bytes, for
    /// the rest of the hand object's life.
    void reshapeToSummary();

    static bool isMatrixCode(std::uint8_t code) {
        return code >= protocol::kMatrixCode && code < protocol::kMatrixCode + kFingers;
    }
    /// The five matrix read requests, finger 0 to 4.
    static std::vector<ByteVector> matrixRequests();

  private:
    mutable std::mutex mutex_;
    State state_;
};

}  // namespace detail
}  // namespace hand
}  // namespace velmora
