#include "detail/ReplyCaches.h"

namespace velmora {
namespace hand {
namespace detail {

namespace {
void appendValues(ByteVector& out, const ByteVector& frame) {
    if (frame.size() > 1) {
        out.insert(out.end(), frame.begin() + 1, frame.end());
    }
}
}  // namespace

void ReplyCaches::store(std::uint8_t code, ByteVector frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_[code] = std::move(frame);
}

ByteVector ReplyCaches::frame(std::uint8_t code) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return slots_[code];
}

ByteVector ReplyCaches::values(std::uint8_t code) const {
    return joinedValues({code});
}

ByteVector ReplyCaches::joinedValues(std::initializer_list<std::uint8_t> codes) const {
    std::lock_guard<std::mutex> lock(mutex_);
    ByteVector joined;
    for (std::uint8_t code : codes) {
        appendValues(joined, slots_[code]);
    }
    return joined;
}

std::optional<ByteVector> ReplyCaches::allValues(std::initializer_list<std::uint8_t> codes) const {
    std::lock_guard<std::mutex> lock(mutex_);
    ByteVector joined;
    for (std::uint8_t code : codes) {
        if (slots_[code].size() < 2) {
            return std::nullopt;
        }
        appendValues(joined, slots_[code]);
    }
    return joined;
}

}  // namespace detail
}  // namespace hand
}  // namespace velmora
