#include "Diagnosis.h"

namespace velmora {
namespace bridge {

Diagnosis diagnose(const hand::HandHealth& health, bool lastReadAnswered, bool faults,
                   std::chrono::nanoseconds staleAfter, const std::string& trouble) {
    if (!health.channelUp)
        return {kError, "the CAN channel is down"};
    if (!health.lastFrameAge || *health.lastFrameAge > staleAfter || !lastReadAnswered)
        return {kStale, "the hand is not answering"};
    if (faults)
        return {kWarn, "the hand reports faults"};
    if (!trouble.empty())
        return {kWarn, trouble};
    return {kOk, "replies fresh"};
}

}  // namespace bridge
}  // namespace velmora
