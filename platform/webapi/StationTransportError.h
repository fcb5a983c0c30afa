// The error a request's handler receives when the connection to a base
// station fails (docs/wire-protocol.md, "Errors seen by the plug-in").
#pragma once

#include <boost/system/error_code.hpp>

namespace Keldra {

// Timeouts become timed_out; a connection the station ended without
// answering (TLS close or broken pipe) connection_reset; an HTTP answer that
// cannot be read (malformed, over the size limits, cut off after it began)
// the generic bad_message. Socket and TLS errors, among them connection
// refused and reset, host unreachable and the truncated TLS stream, pass as
// they are.
boost::system::error_code StationTransportError(const boost::system::error_code& error);

}  // namespace Keldra
