#pragma once

// The input formats of the fuzz targets, shared with the program that writes their seeds.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "velmora/MessageSink.h"
#include "velmora/VelmoraTypes.h"

namespace velmora::fuzz {

/// Reads an input front to back; past its end every read gives zeros.
class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    std::size_t left() const { return empty() ? 0 : size_ - pos_; }

    std::uint8_t byte() { return empty() ? 0 : data_[pos_++]; }
    std::uint32_t u32() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= static_cast<std::uint32_t>(byte()) << (8 * i);
        return value;
    }
    ByteVector bytes(std::size_t n) {
        ByteVector out;
        while (n-- > 0 && !empty())
            out.push_back(byte());
        return out;
    }
    ByteVector rest() { return bytes(left()); }
    /// The rest as doubles, eight bytes each, any bit pattern (NaN, infinities, denormals).
    std::vector<double> restAsDoubles() {
        std::vector<double> out;
        while (left() >= sizeof(double)) {
            double value;
            std::memcpy(&value, data_ + pos_, sizeof value);
            pos_ += sizeof value;
            out.push_back(value);
        }
        pos_ = size_;
        return out;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

/// A hand-frames input is a list of records. A record whose first byte has the top bit clear is
/// a frame: bits 0-1 choose the identifier (0 the hand's, 1 the other side's, 2 zero, 3 four
/// raw bytes follow), bits 2-6 the length the driver reports (0..31), then min(length, 8) data
/// bytes. A record with the top bit set calls getter number (byte & 0x7F) of the model.
inline constexpr std::uint8_t kGetterRecord = 0x80;
inline constexpr std::uint8_t kMaxReportedLength = 31;

inline void appendFrameRecord(ByteVector& input, const ByteVector& frame) {
    const auto length = static_cast<std::uint8_t>(frame.size() > 8 ? 8 : frame.size());
    input.push_back(static_cast<std::uint8_t>(length << 2));
    input.insert(input.end(), frame.begin(), frame.begin() + length);
}

/// Fails the run: libFuzzer keeps the input that got here.
[[noreturn]] inline void violated(const char* what) {
    std::fprintf(stderr, "invariant violated: %s\n", what);
    std::abort();
}

/// The library's messages would drown the fuzzer's own output.
inline void silenceLibrary() {
    setMessageSink([](MessageLevel, const std::string&) {});
}

}  // namespace velmora::fuzz
