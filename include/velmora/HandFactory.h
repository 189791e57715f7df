#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "velmora/Export.h"
#include "velmora/IHand.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace factory {

/// Builds the hand object for a model, a side and a transport.
///
/// Threads: it keeps no state; calls from several threads are independent.
class VELMORA_API HandFactory {
  public:
    /// handType must be RIGHT (0x27) or LEFT (0x28). Opens "can0", "can1" or "ethercat" at
    /// 1000000 bit/s. Throws std::invalid_argument "Unsupported hand type", "Unknown comm type"
    /// or "Unknown hand type", and std::runtime_error for MODBUS; the channel's errors pass
    /// through.
    static std::unique_ptr<hand::IHand> createHand(VELMORA model, std::uint32_t handType,
                                                   COMM_TYPE commType);

    /// Opens the named channel when its name contains "can" in any case (can0, vcan0,
    /// virtual:can0, ...). Returns an empty handle for any other name, except "modbus", which
    /// throws std::runtime_error.
    static std::unique_ptr<hand::IHand> createHand(VELMORA model, std::uint32_t handType,
                                                   std::string channel, int bitRate);

    static std::string toLower(const std::string& text);
    static bool containsIgnoreCase(const std::string& text, const std::string& needle);
};

}  // namespace factory
}  // namespace velmora
