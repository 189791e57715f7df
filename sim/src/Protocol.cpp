#include "Protocol.h"

#include <functional>

namespace velmora {
namespace sim {

namespace {

// answerMatrixCode reaches finger f's matrix as protocol::kMatrixCode + f on every model.
constexpr bool matrixCodesFromFirst(VELMORA model) {
    return protocol::consecutiveCodes(model, protocol::Quantity::Matrix, HandBody::kFingers) &&
           protocol::codeOf(model, protocol::Quantity::Matrix) == protocol::kMatrixCode;
}
static_assert(matrixCodesFromFirst(KESTA) && matrixCodesFromFirst(KESTA_ALT) &&
                  matrixCodesFromFirst(MARLO) && matrixCodesFromFirst(TOVIN) &&
                  matrixCodesFromFirst(RAVEL) && matrixCodesFromFirst(ZENIT) &&
                  matrixCodesFromFirst(SABRE),
              "a model's matrix codes are not kMatrixCode + finger");

// The version report carries the robot's version and number after the degrees of freedom.
constexpr std::uint8_t kRobotVersion = 1;
constexpr std::uint8_t kRobotNumber = 1;

}  // namespace

ByteVector Protocol::frame(std::uint8_t code, const ByteVector& values) {
    ByteVector out;
    out.reserve(1 + values.size());
    out.push_back(code);
    out.insert(out.end(), values.begin(), values.end());
    return out;
}

ByteVector Protocol::forcePerFinger(std::size_t quantity) const {
    ByteVector values;
    for (std::size_t finger = 0; finger < HandBody::kFingers; ++finger) {
        values.push_back(body_.fingerSummary(finger).at(quantity));
    }
    return values;
}

void Protocol::appendMatrixRows(std::uint8_t code, std::size_t finger, Frames& out) const {
    if (config_.sensor != SensorKind::Matrix)
        return;
    const ByteMatrix rows = body_.fingerMatrix(finger);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        ByteVector row;
        row.reserve(2 + rows[r].size());
        row.push_back(code);
        row.push_back(static_cast<std::uint8_t>(r << 4));
        row.insert(row.end(), rows[r].begin(), rows[r].end());
        out.push_back(row);
    }
}

void Protocol::readOrWrite(const ByteVector& f, std::size_t first, std::size_t n, Reader read,
                           Writer write, Frames& out) {
    // std::invoke rather than (body_.*read)(...): GCC 12 with -fsanitize=vptr miscompiles that
    // call through a reference member of a polymorphic base.
    if (f.size() == 1) {
        out.push_back(frame(f[0], std::invoke(read, body_, first, n)));
    } else {
        std::invoke(write, body_, first, payload(f));
    }
}

bool Protocol::handleJointCommand(const ByteVector& f, Frames& out) {
    using protocol::Layout;
    using protocol::Quantity;
    const protocol::Command* c = protocol::find(config_.model, f[0]);
    if (!c || (c->reply.layout != Layout::Joints && c->write.layout != Layout::Joints))
        return false;
    Reader read = nullptr;
    Writer write = nullptr;
    switch (c->quantity) {
        case Quantity::Positions:
            read = &HandBody::positions;
            write = &HandBody::setTargets;
            break;
        case Quantity::Speeds:
            read = &HandBody::speeds;
            write = &HandBody::setSpeeds;
            break;
        case Quantity::Torques:
            read = &HandBody::torques;
            write = &HandBody::setTorques;
            break;
        case Quantity::Accelerations:
            read = &HandBody::accelerations;
            write = &HandBody::setAccelerations;
            break;
        case Quantity::Temperatures:
            read = &HandBody::temperatures;
            break;
        case Quantity::Faults:
            read = &HandBody::faults;
            break;
        default:
            return false;
    }
    const protocol::Payload& layout = c->reply.layout == Layout::Joints ? c->reply : c->write;
    if (f.size() == 1 || c->write.layout != Layout::Joints) {
        if (c->request)
            out.push_back(frame(f[0], std::invoke(read, body_, layout.first, layout.count)));
    } else {
        std::invoke(write, body_, layout.first, payload(f));
    }
    return true;
}

void Protocol::answerMatrixCode(const ByteVector& f, bool summaryAnswersProbe, Frames& out) const {
    if (f.size() > 1) {
        appendMatrixRows(f[0], f[0] - protocol::kMatrixCode, out);
    } else if (config_.sensor == SensorKind::Matrix) {
        out.push_back(matrixAnnouncement());
    } else if (config_.sensor == SensorKind::Summary && summaryAnswersProbe) {
        out.push_back(
            {protocol::codeOf(config_.model, protocol::Quantity::SensorKind), sensorKind()});
    }
}

std::uint8_t Protocol::sensorKind() const {
    switch (config_.sensor) {
        case SensorKind::Matrix:
            return protocol::kMatrixSensors;
        case SensorKind::Summary:
            return protocol::kSummarySensors;
        case SensorKind::None:
            break;
    }
    return protocol::kNoSensors;
}

ByteVector Protocol::versionFields(std::uint8_t version, std::size_t fields) {
    ByteVector out(fields, 0);
    out[0] = static_cast<std::uint8_t>(protocol::versionWhole(version));
    out[1] = static_cast<std::uint8_t>(protocol::versionTenths(version));
    return out;
}

ByteVector Protocol::versionReport() const {
    return {models::info(config_.model).version.code,
            models::info(config_.model).version.degreesOfFreedom,
            kRobotVersion,
            kRobotNumber,
            static_cast<std::uint8_t>(config_.handId == LEFT ? 'L' : 'R'),
            config_.softwareVersion,
            config_.hardwareVersion};
}

std::unique_ptr<Protocol> makeProtocol(HandBody& body, const SimConfig& config) {
    switch (config.model) {
        case KESTA_ALT:
        case KESTA:
            return makeKestaProtocol(body, config);
        case MARLO:
            return makeMarloProtocol(body, config);
        case TOVIN:
            return makeTovinProtocol(body, config);
        case RAVEL:
            return makeRavelProtocol(body, config);
        case SABRE:
        case ZENIT:
            return makeZenitProtocol(body, config);
    }
    return makeTovinProtocol(body, config);
}

}  // namespace sim
}  // namespace velmora
