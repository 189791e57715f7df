#include "FrameMeaning.h"

#include <cstdio>

#include "velmora/Models.h"

namespace velmora {
namespace tools {

namespace {

using models::kFingerNames;

std::string versionText(std::uint8_t version) {
    return std::to_string(protocol::versionWhole(version)) + "." +
           std::to_string(protocol::versionTenths(version));
}

std::string hexBytes(const std::uint8_t* p, std::size_t n) {
    std::string text;
    char cell[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(cell, sizeof cell, "%s%02X", i ? " " : "", p[i]);
        text += cell;
    }
    return text;
}

}  // namespace

const char* directionName(FrameMeaning::Direction direction) {
    switch (direction) {
        case FrameMeaning::Direction::Request:
            return "request";
        case FrameMeaning::Direction::Write:
            return "write";
        case FrameMeaning::Direction::Reply:
            return "reply";
        case FrameMeaning::Direction::Unknown:
            break;
    }
    return "unknown";
}

std::string describePayload(VELMORA model, const protocol::Payload& layout, const std::uint8_t* p,
                            std::size_t n) {
    using protocol::Layout;
    std::string text;
    auto add = [&](const std::string& label, int value) {
        if (!text.empty())
            text += ' ';
        text += label + "=" + std::to_string(value);
    };
    switch (layout.layout) {
        case Layout::None:
            return n ? hexBytes(p, n) : "";
        case Layout::Joints:
            for (std::size_t i = 0; i < n; ++i) {
                const std::size_t joint = layout.first + i;
                if (models::info(model).carriesJoint(joint))
                    add(models::jointLabel(model, joint), p[i]);
            }
            return text;
        case Layout::FingerSlots:
            for (std::size_t s = 0; s < n && s < protocol::kSlotsPerFinger; ++s) {
                const int joint =
                    protocol::kZenitSlotJoint[layout.first * protocol::kSlotsPerFinger + s];
                if (joint != protocol::kNoJoint)
                    add(models::jointLabel(model, static_cast<std::size_t>(joint)), p[s]);
            }
            return text;
        case Layout::Fingers:
            for (std::size_t f = 0; f < n && f < models::kFingers; ++f)
                add(kFingerNames[f], p[f]);
            return text;
        case Layout::FingerSummary: {
            static const char* const kParts[] = {"normal", "tangential", "direction", "approach"};
            text = std::string(kFingerNames[layout.first % models::kFingers]) + ":";
            for (std::size_t i = 0; i < n && i < models::kSummaryValues; ++i)
                text += std::string(" ") + kParts[i] + "=" + std::to_string(p[i]);
            return text;
        }
        case Layout::MatrixRows:
            if (n == 1 && p[0] == protocol::kMatrixReadByte)
                return std::string(kFingerNames[layout.first % models::kFingers]) + " matrix read";
            if (n == 2)
                return "matrix sensors present";
            if (n >= 1) {
                text = std::string(kFingerNames[layout.first % models::kFingers]) + " row " +
                       std::to_string(p[0] >> 4) + ":";
                for (std::size_t i = 1; i < n; ++i)
                    text += " " + std::to_string(p[i]);
            }
            return text;
        case Layout::Text:
            for (std::size_t i = 0; i < n; ++i)
                text += (p[i] >= 0x20 && p[i] < 0x7F) ? static_cast<char>(p[i]) : '.';
            return "\"" + text + "\"";
        case Layout::VersionReport: {
            static const char* const kFields[] = {"freedom", "robot",    "number",
                                                  "side",    "software", "hardware"};
            for (std::size_t i = 0; i < n && i < 6; ++i) {
                if (!text.empty())
                    text += ' ';
                text += std::string(kFields[i]) + "=";
                if (i == 3)
                    text += (p[i] == 'L' ? "left" : p[i] == 'R' ? "right" : std::to_string(p[i]));
                else if (i >= 4)
                    text += versionText(p[i]);
                else
                    text += std::to_string(p[i]);
            }
            return text;
        }
        case Layout::VersionFields:
            for (std::size_t i = 0; i < n; ++i)
                text += (i ? "." : "") + std::to_string(p[i]);
            return "version " + text;
        case Layout::VersionNibbles:
            return n ? "version " + versionText(p[0]) : "";
        case Layout::Identifier:
            if (!n)
                return "";
            return "id=0x" + hexBytes(p, 1) +
                   (p[0] == RIGHT  ? " (right)"
                    : p[0] == LEFT ? " (left)"
                                   : "");
        case Layout::SensorKind:
            if (!n)
                return "";
            return p[0] == protocol::kNoSensors        ? "no fingertip sensors"
                   : p[0] == protocol::kSummarySensors ? "summary sensors"
                   : p[0] == protocol::kMatrixSensors  ? "matrix sensors"
                                                       : "kind " + std::to_string(p[0]);
        case Layout::Bytes:
            break;
    }
    return hexBytes(p, n);
}

FrameMeaning FrameDecoder::decode(const LoggedFrame& frame) {
    FrameMeaning meaning;
    if (frame.len == 0 || frame.remote || frame.extended)
        return meaning;
    const std::uint8_t code = frame.data[0];
    meaning.command = protocol::find(model_, code);
    const std::uint8_t* payload = frame.data.data() + 1;
    const std::size_t size = frame.len - 1u;
    const auto key = std::make_pair(frame.id, code);
    if (!meaning.command) {
        meaning.values = describePayload(model_, {}, payload, size);
        return meaning;
    }
    const protocol::Command& c = *meaning.command;
    using protocol::Layout;
    if (size == 0) {
        meaning.direction =
            c.request ? FrameMeaning::Direction::Request : FrameMeaning::Direction::Write;
        if (c.request)
            ++pending_[key];
        return meaning;
    }
    const bool matrixRead = c.quantity == protocol::Quantity::Matrix && size == 1 &&
                            payload[0] == protocol::kMatrixReadByte;
    bool reply;
    if (matrixRead) {
        reply = false;
    } else if (c.quantity == protocol::Quantity::Matrix) {
        reply = true;  // rows and the sensors' announcement come from the hand only
    } else if (c.write.layout == Layout::None) {
        reply = true;
    } else if (c.reply.layout == Layout::None) {
        reply = false;
    } else {
        reply = pending_[key] > 0;
    }
    if (reply && pending_[key] > 0)
        --pending_[key];
    meaning.direction = reply ? FrameMeaning::Direction::Reply : FrameMeaning::Direction::Write;
    const protocol::Payload& layout = reply || matrixRead ? c.reply : c.write;
    meaning.values = describePayload(model_, layout, payload, size);
    return meaning;
}

}  // namespace tools
}  // namespace velmora
