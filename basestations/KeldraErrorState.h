// The device error state a base station reports with every status.
#pragma once

#include <cstdint>

namespace Keldra {

struct KeldraErrorState {
    bool hasError = false;       // the station reports at least one device error
    std::uint16_t newErrors = 0; // error bits raised since the previous status
};

}  // namespace Keldra
