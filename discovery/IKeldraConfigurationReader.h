// Access to the credentials file: the credentials of a base station and the
// re-reading of the file.
#pragma once

#include <boost/optional.hpp>

#include "basestations/Credentials.h"

namespace Keldra {

class IKeldraConfigurationReader {
public:
    virtual ~IKeldraConfigurationReader() = default;
    // index: the base station number minus one.
    virtual boost::optional<Credentials> GetCredentials(unsigned char index) = 0;
    virtual void UpdateCredentials() = 0;
};

}  // namespace Keldra
