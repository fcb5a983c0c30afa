// How components get their timers: a factory, never the clock system itself.
#pragma once

#include <memory>

#include "Function.h"
#include "WaitableTimer.h"

namespace Keldra {

using TimerFactory = Oru::function<std::unique_ptr<Oru::WaitableTimer>()>;

}  // namespace Keldra
