// Whether an update of a reported value changed what was stored.
#pragma once

namespace Keldra {

enum class ValueChangeState : int {
    Changed = 0,
    Unchanged = 1,
};

}  // namespace Keldra
