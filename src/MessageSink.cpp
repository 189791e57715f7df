#include <iostream>
#include <memory>
#include <mutex>

#include "detail/Messages.h"

namespace velmora {

namespace {

// Never destroyed: messages may be written from static destructors and detached threads.
std::mutex& sinkMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}
std::shared_ptr<const MessageSink>& currentSink() {
    static auto* sink = new std::shared_ptr<const MessageSink>;
    return *sink;
}

}  // namespace

void setMessageSink(MessageSink sink) {
    std::shared_ptr<const MessageSink> next;
    if (sink) {
        next = std::make_shared<const MessageSink>(std::move(sink));
    }
    std::lock_guard<std::mutex> lock(sinkMutex());
    currentSink() = std::move(next);
}

void resetMessageSink() {
    setMessageSink(nullptr);
}

namespace detail {

void message(MessageLevel level, Stream stream, const std::string& text) {
    std::shared_ptr<const MessageSink> sink;
    {
        std::lock_guard<std::mutex> lock(sinkMutex());
        sink = currentSink();
    }
    // Called outside the lock, so that a sink may itself set or reset the sink.
    if (sink) {
        (*sink)(level, text);
        return;
    }
    (stream == Stream::Out ? std::cout : std::cerr) << text << std::endl;
}

}  // namespace detail
}  // namespace velmora
