#include "velmora/HandFactory.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "velmora/VelmoraKesta.h"
#include "velmora/VelmoraMarlo.h"
#include "velmora/VelmoraRavel.h"
#include "velmora/VelmoraTovin.h"
#include "velmora/VelmoraZenit.h"

namespace velmora {
namespace factory {

namespace {

constexpr int kDefaultBitRate = 1000000;

std::unique_ptr<hand::IHand> buildModel(VELMORA model, std::uint32_t handType,
                                        const std::string& channel, int bitRate) {
    switch (model) {
        case KESTA_ALT:
        case KESTA:
            return std::make_unique<hand::KestaHand>(handType, channel, bitRate);
        case MARLO:
            return std::make_unique<hand::MarloHand>(handType, channel, bitRate);
        case TOVIN:
            return std::make_unique<hand::TovinHand>(handType, channel, bitRate);
        case RAVEL:
            return std::make_unique<hand::RavelHand>(handType, channel, bitRate);
        case SABRE:
            return std::make_unique<hand::ZenitHand>(handType, channel, bitRate, 1);
        case ZENIT:
            return std::make_unique<hand::ZenitHand>(handType, channel, bitRate, 0);
    }
    throw std::invalid_argument("Unknown hand type");
}

void checkSide(std::uint32_t handType) {
    if (handType != LEFT && handType != RIGHT) {
        throw std::invalid_argument("Unsupported hand type");
    }
}

[[noreturn]] void refuseModbus() {
    throw std::runtime_error("ModBus support is disabled (USE_RMAN=0)");
}

}  // namespace

std::unique_ptr<hand::IHand> HandFactory::createHand(VELMORA model, std::uint32_t handType,
                                                     COMM_TYPE commType) {
    checkSide(handType);
    switch (commType) {
        case CAN0:
            return buildModel(model, handType, "can0", kDefaultBitRate);
        case CAN1:
            return buildModel(model, handType, "can1", kDefaultBitRate);
        case ETHERCAT:
            return buildModel(model, handType, "ethercat", kDefaultBitRate);
        case MODBUS:
            refuseModbus();
    }
    throw std::invalid_argument("Unknown comm type");
}

std::unique_ptr<hand::IHand> HandFactory::createHand(VELMORA model, std::uint32_t handType,
                                                     std::string channel, int bitRate) {
    checkSide(handType);
    if (containsIgnoreCase(channel, "can")) {
        return buildModel(model, handType, channel, bitRate);
    }
    if (channel == "modbus") {
        refuseModbus();
    }
    return nullptr;
}

std::string HandFactory::toLower(const std::string& text) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool HandFactory::containsIgnoreCase(const std::string& text, const std::string& needle) {
    return toLower(text).find(toLower(needle)) != std::string::npos;
}

}  // namespace factory
}  // namespace velmora
