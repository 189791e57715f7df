#pragma once

#include <string>

#include "velmora/MessageSink.h"

namespace velmora {
namespace detail {

/// The stream a message goes to when no sink is set.
enum class Stream { Out, Err };

/// Hands one line of the library to the message sink; without a sink, writes it and a line end
/// to its stream and flushes.
void message(MessageLevel level, Stream stream, const std::string& text);

inline void info(const std::string& text) {
    message(MessageLevel::Info, Stream::Out, text);
}

}  // namespace detail
}  // namespace velmora
