// A fresh key pair and self-signed certificate for a TLS server in a test,
// made in memory at start: nothing is read from disk.
#pragma once

#include <boost/asio/ssl/context.hpp>

namespace Keldra {
namespace Testing {

// Generates a P-256 key and a certificate for it, valid from an hour ago
// for a day, and makes them the context's own.
void UseNewSelfSignedCertificate(boost::asio::ssl::context& context);

}  // namespace Testing
}  // namespace Keldra
