// Where a base station's web API is reached and with which credentials.
#pragma once

#include <ostream>
#include <utility>

#include <boost/asio/ip/tcp.hpp>
#include <boost/optional.hpp>

#include "Credentials.h"

namespace Keldra {

struct BaseStationWebParameters {
    BaseStationWebParameters(boost::asio::ip::tcp::endpoint endpoint_, boost::optional<Credentials> credentials_)
        : endpoint(std::move(endpoint_)), credentials(std::move(credentials_))
    {
    }

    boost::asio::ip::tcp::endpoint endpoint;  // the station's IPv4 address, port 443
    boost::optional<Credentials> credentials;

    friend bool operator==(const BaseStationWebParameters& a, const BaseStationWebParameters& b)
    {
        return a.endpoint == b.endpoint && a.credentials == b.credentials;
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
