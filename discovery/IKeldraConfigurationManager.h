// The credentials of the base stations, kept up to date with the credentials
// file; handed to the base station manager.
#pragma once

#include <boost/optional.hpp>

#include "basestations/Credentials.h"

namespace Keldra {

class IKeldraConfigurationManager {
public:
    virtual ~IKeldraConfigurationManager() = default;
    // index: the base station number minus one.
    virtual boost::optional<Credentials> GetCredentials(unsigned char index) = 0;
};

}  // namespace Keldra
