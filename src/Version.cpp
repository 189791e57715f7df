#include "velmora/Version.h"

namespace velmora {

const char* version() noexcept {
    return VELMORA_VERSION_STRING;
}

}  // namespace velmora
