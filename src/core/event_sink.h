#pragma once

#include <functional>

#include "core/json.h"

namespace tavren {

// The protocol version: the only one requests may name, and the one every line carries.
inline constexpr int kProtocolVersion = 1;

// Where unsolicited event lines go: the service hands its line writer's writeProtocolValue,
// tests hand a collector. Called from any thread; each call writes one whole line.
using EventSink = std::function<void(Json event)>;

}  // namespace tavren
