#include "velmora/HandException.h"

#include <utility>

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

ChannelException::ChannelException(const std::string& message, std::string interfaceName,
                                   int errorNumber)
    : std::runtime_error(message),
      interfaceName_(std::move(interfaceName)),
      errorNumber_(errorNumber) {}

ChannelException::~ChannelException() = default;

}  // namespace velmora
