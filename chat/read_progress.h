#pragma once

#include <functional>

namespace velmoran {

// Told now and then how far the read of a history has come: the fraction done, from 0 to 1,
// never falling. It may let window events run; to stop the read it throws, and the reader
// releases what it holds and lets the exception through.
using ReadProgress = std::function<void(double done)>;

} // namespace velmoran
