#include "detail/FingertipSensors.h"

#include <algorithm>

#include "velmora/IHand.h"

namespace velmora {
namespace hand {
namespace detail {

FingertipSensors::FingertipSensors() {
    state_.matrices.assign(kFingers, ByteMatrix(kMatrixRows, ByteVector(kMatrixRowBytes, 0)));
}

std::uint8_t FingertipSensors::mode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.mode;
}

void FingertipSensors::setMode(std::uint8_t mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    state_.mode = mode;
}

ForceData FingertipSensors::matrices() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.matrices;
}

void FingertipSensors::onKindReport(const ByteVector& frame) {
    if (frame.size() >= 2 && frame[1] >= 1 && frame[1] <= 3) {
        setMode(frame[1]);
    }
}

void FingertipSensors::onMatrixFrame(const ByteVector& frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (frame.size() == 3) {
        state_.mode = TOUCH_TYPE_MATRIX;
        return;
    }
    if (state_.mode != TOUCH_TYPE_MATRIX || frame.size() != 8) {
        return;
    }
    const std::size_t row = frame[1] >> 4;
    const std::size_t finger = (frame[0] & 0x0F) - 1u;
    if ((row + 1) * kMatrixRowBytes > kMatrixRows * kMatrixRowBytes ||
        finger >= state_.matrices.size() || row >= state_.matrices[finger].size()) {
        return;
    }
    ByteVector& target = state_.matrices[finger][row];
    if (target.size() >= kMatrixRowBytes) {
        std::copy(frame.begin() + 2, frame.end(), target.begin());
    }
}

void FingertipSensors::storeSummary(std::size_t finger, const ByteVector& frame) {
    if (frame.size() < 2) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (finger >= state_.matrices.size() || state_.matrices[finger].empty()) {
        return;
    }
    ByteVector& row = state_.matrices[finger][0];
    const std::size_t n = std::min(frame.size() - 1, row.size());
    std::copy_n(frame.begin() + 1, n, row.begin());
}

void FingertipSensors::reshapeToSummary() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_.matrices.size() != kFingers) {
        return;
    }
    for (ByteMatrix& finger : state_.matrices) {
        finger.resize(1);
        finger[0].resize(kSummaryBytes, 0);
    }
}

namespace {

// Every model's table must hold the five matrix codes from kMatrixCode on, finger 0 first: the
// sensors route and request them as one range.
constexpr bool matrixCodesInTable(VELMORA model) {
    for (std::size_t finger = 0; finger < FingertipSensors::kFingers; ++finger) {
        if (protocol::codeOf(model, protocol::Quantity::Matrix, finger) !=
            protocol::kMatrixCode + finger) {
            return false;
        }
    }
    return true;
}
static_assert(matrixCodesInTable(KESTA) && matrixCodesInTable(MARLO) && matrixCodesInTable(TOVIN) &&
                  matrixCodesInTable(RAVEL) && matrixCodesInTable(ZENIT),
              "the fingertip matrix codes are not one range from kMatrixCode in every table");
static_assert(TOUCH_PAGE_REQ == protocol::kMatrixReadByte,
              "TOUCH_PAGE_REQ is not the table's matrix read byte");
static_assert(TOUCH_TYPE_MATRIX == protocol::kMatrixSensors,
              "TOUCH_TYPE_MATRIX is not the sensor-kind report's matrix byte");

}  // namespace

std::vector<ByteVector> FingertipSensors::matrixRequests() {
    std::vector<ByteVector> requests;
    for (std::size_t finger = 0; finger < kFingers; ++finger) {
        requests.push_back(
            {static_cast<std::uint8_t>(protocol::kMatrixCode + finger), protocol::kMatrixReadByte});
    }
    return requests;
}

}  // namespace detail
}  // namespace hand
}  // namespace velmora
