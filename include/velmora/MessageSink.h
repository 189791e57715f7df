#pragma once

#include <functional>
#include <string>

#include "velmora/Export.h"

namespace velmora {

/// How serious a message of the library is.
enum class MessageLevel {
    Info,     ///< an interface opened, rate statistics
    Warning,  ///< a refused argument or operation, an interface that could not be configured
    Error,    ///< a frame that could not be written, a conversion that failed
};

/// Receives every line the library writes, without its line end.
using MessageSink = std::function<void(MessageLevel level, const std::string& text)>;

/// Routes every message of the library to `sink`, from whatever thread writes it (the sink must
/// be safe to call from several threads at once). An empty sink restores the default, which
/// writes each line to standard output or standard error exactly as a program that sets no sink
/// sees it.
VELMORA_API void setMessageSink(MessageSink sink);
/// Restores the default: each line to the stream it has always gone to.
VELMORA_API void resetMessageSink();

}  // namespace velmora
