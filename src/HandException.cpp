#include "velmora/HandException.h"

namespace velmora {

HandException::HandException(HandError code, const std::string& message)
    : std::runtime_error(message), code_(code) {}

HandException::~HandException() = default;

UnsupportedFeatureException::UnsupportedFeatureException(const std::string& featureName)
    : HandException(UNSUPPORTED_FEATURE, "Unsupported feature: " + featureName),
      featureName_(featureName) {}

UnsupportedFeatureException::~UnsupportedFeatureException() = default;

HandTimeoutException::HandTimeoutException(const std::string& message)
    : HandException(HAND_TIMEOUT, message) {}

HandTimeoutException::~HandTimeoutException() = default;

HandMismatchException::HandMismatchException(const std::string& message)
    : HandException(HAND_MISMATCH, message) {}

HandMismatchException::~HandMismatchException() = default;

}  // namespace velmora
