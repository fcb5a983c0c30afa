// How the discovery gets its mDNS client: a factory that creates one on the
// given event loop.
#pragma once

#include <memory>

#include <boost/asio/io_service.hpp>

#include "IMDnsClient.h"
#include "support/Function.h"

namespace Keldra {

using MDnsFactory = Oru::function<std::unique_ptr<IMDnsClient>(boost::asio::io_service&)>;

}  // namespace Keldra
