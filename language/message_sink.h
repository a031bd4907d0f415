#pragma once
// Where loading and compiling send their modal messages.
#include <functional>

#include "text/u16.h"

namespace velmora::language {

// Receives the modal messages of table loading and compiling. The IDE shows
// them in message boxes, the headless runner prints them, tests collect them.
using MessageSink = std::function<void(const u16 &message)>;

}  // namespace velmora::language
