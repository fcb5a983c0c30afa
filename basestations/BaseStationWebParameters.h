// Where a base station's web API is reached and with which credentials.
#pragma once

#include <ostream>
#include <string>
#include <utility>

#include <boost/asio/ip/tcp.hpp>
#include <boost/optional.hpp>

#include "Credentials.h"

namespace Keldra {

struct BaseStationWebParameters {
    BaseStationWebParameters(boost::asio::ip::tcp::endpoint endpoint_, boost::optional<Credentials> credentials_,
                             boost::optional<std::string> trustedStationKey_ = boost::none)
        : endpoint(std::move(endpoint_)),
          credentials(std::move(credentials_)),
          trustedStationKey(std::move(trustedStationKey_))
    {
    }

    boost::asio::ip::tcp::endpoint endpoint;  // the station's IPv4 address, port 443
    boost::optional<Credentials> credentials;
    // The fingerprint of the key the station showed before
    // (IKeldraWebApi::TrustStationKey); none on first contact.
    boost::optional<std::string> trustedStationKey;

    friend bool operator==(const BaseStationWebParameters& a, const BaseStationWebParameters& b)
    {
        return a.endpoint == b.endpoint && a.credentials == b.credentials &&
               a.trustedStationKey == b.trustedStationKey;
    }
    friend bool operator!=(const BaseStationWebParameters& a, const BaseStationWebParameters& b) { return !(a == b); }

    // The endpoint and the user name; never the password.
    friend std::ostream& operator<<(std::ostream& stream, const BaseStationWebParameters& parameters)
    {
        stream << parameters.endpoint;
        if (parameters.credentials) {
            stream << " as \"" << parameters.credentials->username << '"';
        } else {
            stream << " without credentials";
        }
        return stream;
    }
};

}  // namespace Keldra
