// The station's TLS identity: a key pair and a self-signed certificate made
// in memory at start, as a station makes its own on first boot.
#pragma once

#include <string>

#include <boost/asio/ssl/context.hpp>

namespace Keldra {
namespace Simulation {

// Puts a new P-256 key and a self-signed certificate for commonName into
// the server context; returns what failed, empty on success.
std::string UseSelfSignedCertificate(boost::asio::ssl::context& context, const std::string& commonName);

}  // namespace Simulation
}  // namespace Keldra
