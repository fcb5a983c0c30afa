// The gateway's configuration page for the base station credentials: a
// plain HTTP server on a loopback port that serves the page and forwards
// its JSON requests to the plug-in's product web service.
#pragma once

#include <chrono>
#include <memory>

#include <boost/asio/io_service.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/system/error_code.hpp>

#include "PageExtension.h"
#include "ProductWebService.h"

namespace Oru {

// GET / serves the page. POST /api/<request> hands the body, a JSON value
// (an empty body counts as {}), to the product web service as the
// parameters of <request>; the answer becomes 200 with the response object,
// 400 {"error": code} for an error code, 404 {"error": "UnknownRequest"}
// when the service does not answer the request. A body that is not JSON is
// 400 {"error": "InvalidJson"}; a service that throws, 500
// {"error": "InternalError"}. POST /host/<request> goes to the page
// extension in the same way, GET of its files serves them.
//
// Only pages it served itself may use it: every request must name the
// server in Host (127.0.0.1:<port> or localhost:<port>, so that DNS
// rebinding finds nothing); a POST must come from the page's own origin,
// with Content-Type application/json and the token of the page
// (X-Page-Token, new at every start). Every answer forbids framing,
// caching and scripts or styles from elsewhere.
//
// Runs on the io_service's thread, which is the host's thread.
class ConfigurationPageServer {
public:
    using Request = boost::beast::http::request<boost::beast::http::string_body>;
    using Response = boost::beast::http::response<boost::beast::http::string_body>;

    // Largest request body taken.
    static constexpr std::size_t MaximumBodySize = 64 * 1024;
    // Connections open at once (fewer when few descriptors are left); a
    // further one closes the oldest.
    static constexpr std::size_t MaximumConnections = 32;
    // The time a client has for sending a request and reading its answer.
    static constexpr std::chrono::seconds RequestTimeout{10};

    // The service and the extension (may be null) must outlive the server or
    // its Close().
    ConfigurationPageServer(boost::asio::io_service& ioService, IProductWebService& productWebService,
                            IPageExtension* extension = nullptr);
    // Closes.
    ~ConfigurationPageServer();
    ConfigurationPageServer(const ConfigurationPageServer&) = delete;
    ConfigurationPageServer& operator=(const ConfigurationPageServer&) = delete;

    // Listens on 127.0.0.1 at the port (0: a free port, see GetPort).
    boost::system::error_code Listen(unsigned short port);
    unsigned short GetPort() const;
    // Stops accepting; requests still under way are answered 503.
    void Close();
    // The answer a connection would send to the request (the fuzz target's
    // way in, past the sockets).
    Response Respond(const Request& request);

    class Listener;

private:
    std::shared_ptr<Listener> _listener;
};

}  // namespace Oru
