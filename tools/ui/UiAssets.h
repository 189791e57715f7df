#pragma once

// The page of `velmora ui`, compiled in from tools/ui/web (EmbedAssets.cmake).

#include <cstddef>

namespace velmora {
namespace tools {

struct UiAsset {
    /// "/index.html", "/ui.js", ...
    const char* path;
    /// Media type of the Content-Type header.
    const char* type;
    const unsigned char* data;
    std::size_t size;
};

const UiAsset* uiAssetsBegin();
const UiAsset* uiAssetsEnd();

}  // namespace tools
}  // namespace velmora
