#pragma once

#include <cstdint>
#include <vector>

/// Hand models. KESTA_ALT and KESTA are both the 6-actuator hand; SABRE is the 21-joint variant of
/// the 25-joint ZENIT hand.
enum VELMORA : int {
    KESTA_ALT = 0,
    KESTA = 1,
    MARLO = 2,  ///< 7 joints
    TOVIN = 3,  ///< 10 joints
    RAVEL = 4,  ///< 20 joints
    SABRE = 5,  ///< 21 joints
    ZENIT = 6,  ///< 25 joints
};

/// Hand side. The value is also the hand's CAN identifier.
enum HAND_TYPE : std::uint32_t {
    RIGHT = 0x27,
    LEFT = 0x28,
};

/// Transport: CAN0 is "can0", CAN1 "can1", ETHERCAT opens the CAN interface "ethercat"; MODBUS is
/// refused.
enum COMM_TYPE : int {
    CAN0 = 0,
    CAN1 = 1,
    MODBUS = 2,
    ETHERCAT = 3,
};

namespace velmora {

/// One byte per joint, actuator, finger or reply byte.
using ByteVector = std::vector<std::uint8_t>;
/// Joint angles in radians, one per joint slot of the model.
using RadianVector = std::vector<double>;
/// Rows of bytes.
using ByteMatrix = std::vector<ByteVector>;
/// Fingertip force data: fingers x rows x bytes.
using ForceData = std::vector<ByteMatrix>;

}  // namespace velmora
