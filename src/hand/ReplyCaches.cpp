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

void ReplyCaches::storeReply(std::uint8_t code, ByteVector frame) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        slots_[code] = frame;
        replies_[code] = std::move(frame);
        ++replyCount_[code];
        replyTime_[code] = Clock::now();
        replySystemTime_[code] = std::chrono::system_clock::now();
    }
    replied_.notify_all();
}

void ReplyCaches::noteReply(std::uint8_t code) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++replyCount_[code];
        replyTime_[code] = Clock::now();
        replySystemTime_[code] = std::chrono::system_clock::now();
    }
    replied_.notify_all();
}

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

std::optional<std::chrono::nanoseconds> ReplyCaches::replyAge(std::uint8_t code) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (replyCount_[code] == 0) {
        return std::nullopt;
    }
    return Clock::now() - replyTime_[code];
}

std::vector<std::uint64_t> ReplyCaches::replyCounts(const std::vector<std::uint8_t>& codes) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::uint64_t> counts;
    counts.reserve(codes.size());
    for (std::uint8_t code : codes) {
        counts.push_back(replyCount_[code]);
    }
    return counts;
}

std::vector<std::uint8_t> ReplyCaches::waitForReplies(const std::vector<std::uint8_t>& codes,
                                                      const std::vector<std::uint64_t>& counts,
                                                      Clock::time_point deadline) {
    std::vector<std::uint8_t> missing;
    const auto collectMissing = [&] {
        missing.clear();
        for (std::size_t i = 0; i < codes.size(); ++i) {
            if (replyCount_[codes[i]] <= counts[i]) {
                missing.push_back(codes[i]);
            }
        }
        return missing.empty() || closing_;
    };
    std::unique_lock<std::mutex> lock(mutex_);
    replied_.wait_until(lock, deadline, collectMissing);
    collectMissing();
    return missing;
}

bool ReplyCaches::closing() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closing_;
}

void ReplyCaches::wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    replied_.notify_all();
}

ByteVector joinValues(const ReplyCaches::View& view, std::initializer_list<std::uint8_t> codes) {
    ByteVector joined;
    for (std::uint8_t code : codes) {
        appendValues(joined, view.frame(code));
    }
    return joined;
}

}  // namespace detail
}  // namespace hand
}  // namespace velmora
