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

/// Thrown when a CAN channel cannot be opened: what() is the channel's own message ("Failed to
/// get CAN interface index"); the interface and the system's error number come with it.
class VELMORA_API ChannelException : public std::runtime_error {
  public:
    ChannelException(const std::string& message, std::string interfaceName, int errorNumber);
    ~ChannelException() override;

    /// The interface as the caller named it ("can0").
    const std::string& interfaceName() const noexcept { return interfaceName_; }
    /// errno of the failed system call; 0 when it left none.
    int errorNumber() const noexcept { return errorNumber_; }

  private:
    std::string interfaceName_;
    int errorNumber_;
};

}  // namespace velmora
