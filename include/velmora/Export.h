#pragma once

// Symbols of libvelmora_cpp_sdk are hidden unless marked here.
#if defined(VELMORA_STATIC_DEFINE)
#define VELMORA_API
#define VELMORA_NO_EXPORT
#else
#define VELMORA_API __attribute__((visibility("default")))
#define VELMORA_NO_EXPORT __attribute__((visibility("hidden")))
#endif
