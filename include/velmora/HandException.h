#pragma once

#include <stdexcept>
#include <string>

#include "velmora/Export.h"

namespace velmora {

/// Error codes carried by HandException.
enum HandError : int {
    UNSUPPORTED_FEATURE = 1,
    HAND_TIMEOUT = 2,
    HAND_MISMATCH = 3,
};

/// Base of the library's own exceptions.
class VELMORA_API HandException : public std::runtime_error {
  public:
    HandException(HandError code, const std::string& message);
    ~HandException() override;

    HandError code() const noexcept { return code_; }

  private:
    HandError code_;
};

/// Thrown by every operation that a hand model does not provide.
class VELMORA_API UnsupportedFeatureException : public HandException {
  public:
    explicit UnsupportedFeatureException(const std::string& featureName);
    ~UnsupportedFeatureException() override;

    /// The name of the refused operation, for example "getUID".
    const std::string& featureName() const noexcept { return featureName_; }

  private:
    std::string featureName_;
};

/// Thrown by a fresh read whose replies did not all arrive in time.
class VELMORA_API HandTimeoutException : public HandException {
  public:
    explicit HandTimeoutException(const std::string& message);
    ~HandTimeoutException() override;
};

/// Thrown by identity() when what the hand reports contradicts the model (or side) the hand
/// object was built for.
class VELMORA_API HandMismatchException : public HandException {
  public:
    explicit HandMismatchException(const std::string& message);
    ~HandMismatchException() override;
};

}  // namespace velmora
