// The station's TLS identity: a key pair and a self-signed certificate made
// in memory at start, as a station makes its own on first boot.
#pragma once

#include <string>

#include <boost/asio/ssl/context.hpp>

namespace Keldra {
namespace Simulation {

// Puts a P-256 key and a self-signed certificate for commonName into the
// server context; returns what failed, empty on success. The key is new
// unless keyFile names one (PEM) from an earlier start; a missing keyFile
// is created (mode 0600) with the new key, so that a restarted station keeps
// its identity.
std::string UseSelfSignedCertificate(boost::asio::ssl::context& context, const std::string& commonName,
                                     const std::string& keyFile = std::string());

}  // namespace Simulation
}  // namespace Keldra
