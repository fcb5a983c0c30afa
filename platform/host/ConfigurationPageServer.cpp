#include "ConfigurationPageServer.h"

#include <sys/random.h>
#include <sys/resource.h>

#include <algorithm>
#include <deque>
#include <exception>
#include <string>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/optional.hpp>
#include <openssl/evp.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "ConfigurationPage.h"
#include "OruLogging.h"

namespace Oru {

namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = boost::asio::ip::tcp;

namespace {

const std::string ApiPrefix = "/api/";
const std::string HostPrefix = "/host/";
const char* const TokenField = "X-Page-Token";
constexpr std::chrono::milliseconds FirstAcceptRetry{50};
constexpr std::chrono::milliseconds LastAcceptRetry{1000};

std::string JsonText(const rapidjson::Value& value)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value.Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string ErrorJson(const std::string& code)
{
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("error");
    writer.String(code.c_str(), static_cast<rapidjson::SizeType>(code.size()));
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

// 128 random bits in hexadecimal.
std::string NewToken()
{
    unsigned char bytes[16] = {};
    std::size_t filled = 0;
    while (filled < sizeof bytes) {
        const ssize_t count = ::getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (count > 0) {
            filled += static_cast<std::size_t>(count);
        } else if (errno != EINTR) {
            throw std::runtime_error("no random bytes for the page token");
        }
    }
    static const char digits[] = "0123456789abcdef";
    std::string token;
    for (const unsigned char byte : bytes) {
        token += digits[byte >> 4];
        token += digits[byte & 15];
    }
    return token;
}

// "'sha256-<Base64>'" of each <tag>...</tag> block of the page, the form in
// which a Content-Security-Policy allows that inline block and no other.
std::string InlineHashes(const std::string& page, const std::string& tag)
{
    std::string sources;
    const std::string open = "<" + tag + ">";
    const std::string close = "</" + tag + ">";
    for (auto start = page.find(open); start != std::string::npos; start = page.find(open, start)) {
        start += open.size();
        const auto end = page.find(close, start);
        if (end == std::string::npos) {
            break;
        }
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_Digest(page.data() + start, end - start, digest, &length, EVP_sha256(), nullptr);
        unsigned char base64[4 * EVP_MAX_MD_SIZE / 3 + 4];
        const int written = EVP_EncodeBlock(base64, digest, static_cast<int>(length));
        sources += " 'sha256-" + std::string(reinterpret_cast<const char*>(base64), static_cast<std::size_t>(written)) + "'";
        start = end;
    }
    return sources;
}

std::string ContentSecurityPolicy(const std::string& page)
{
    return "default-src 'none'; script-src 'self'" + InlineHashes(page, "script") + "; style-src 'self'" +
           InlineHashes(page, "style") +
           "; connect-src 'self'; img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
}

// Connections the page may hold and still leave the plug-in descriptors:
// MaximumConnections, fewer when the descriptor limit is low.
std::size_t ConnectionLimit()
{
    constexpr std::size_t LeftForThePlugIn = 8;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return ConfigurationPageServer::MaximumConnections;
    }
    std::size_t open = 0;
    boost::system::error_code error;
    for (boost::filesystem::directory_iterator entry("/proc/self/fd", error), end; !error && entry != end;
         entry.increment(error)) {
        ++open;
    }
    const std::size_t used = open + LeftForThePlugIn;
    const std::size_t budget = limit.rlim_cur > used ? static_cast<std::size_t>(limit.rlim_cur) - used : 1;
    return std::max<std::size_t>(1, std::min(budget, ConfigurationPageServer::MaximumConnections));
}

bool IsBlank(const std::string& text) { return text.find_first_not_of(" \t\r\n") == std::string::npos; }

bool IsJsonContentType(beast::string_view type)
{
    const auto end = std::min(type.find(';'), type.size());
    auto media = type.substr(0, end);
    while (!media.empty() && media.back() == ' ') {
        media.remove_suffix(1);
    }
    return beast::iequals(media, "application/json");
}

}  // namespace

class PageSession;

// Accepts connections and answers requests; sessions keep it alive to reach
// the service, which Close() takes away.
class ConfigurationPageServer::Listener : public std::enable_shared_from_this<Listener> {
public:
    Listener(boost::asio::io_service& ioService, IProductWebService& productWebService, IPageExtension* extension)
        : _acceptor(ioService),
          _retryTimer(ioService),
          _productWebService(&productWebService),
          _extension(extension),
          _token(NewToken()),
          _page(ComposePage()),
          _securityPolicy(ContentSecurityPolicy(_page))
    {
    }

    boost::system::error_code Listen(unsigned short port)
    {
        boost::system::error_code error;
        const tcp::endpoint endpoint(boost::asio::ip::address_v4::loopback(), port);
        _acceptor.open(endpoint.protocol(), error);
        if (!error) {
            _acceptor.set_option(tcp::acceptor::reuse_address(true), error);
        }
        if (!error) {
            _acceptor.bind(endpoint, error);
        }
        if (!error) {
            _acceptor.listen(boost::asio::socket_base::max_listen_connections, error);
        }
        if (error) {
            boost::system::error_code ignored;
            _acceptor.close(ignored);
            return error;
        }
        _connectionLimit = ConnectionLimit();
        const std::string portText = std::to_string(GetPort());
        _ownHosts = {"127.0.0.1:" + portText, "localhost:" + portText};
        Accept();
        return {};
    }

    unsigned short GetPort() const
    {
        boost::system::error_code error;
        const auto endpoint = _acceptor.local_endpoint(error);
        return error ? 0 : endpoint.port();
    }

    void Close()
    {
        _productWebService = nullptr;
        _extension = nullptr;
        boost::system::error_code ignored;
        _acceptor.close(ignored);
        _retryTimer.cancel(ignored);
    }

    Response Handle(const Request& request);

    // A session that ends makes room; called from its destructor.
    void Forget() { --_openSessions; }

private:
    void Accept()
    {
        _acceptor.async_accept(beast::bind_front_handler(&Listener::OnAccept, shared_from_this()));
    }
    void OnAccept(const boost::system::error_code& error, tcp::socket socket);
    void OnRetry(const boost::system::error_code& error)
    {
        if (!error && _acceptor.is_open()) {
            Accept();
        }
    }
    // Closes the oldest connection still open; false when there is none.
    bool CloseOldest();

    std::string ComposePage() const
    {
        std::string page = ConfigurationPageHtml();
        const auto head = page.find("<head>");
        if (head != std::string::npos) {
            page.insert(head + 6, "\n<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                                  "\n<meta name=\"page-token\" content=\"" + _token + "\">");
        }
        const auto bodyEnd = page.rfind("</body>");
        if (_extension != nullptr && bodyEnd != std::string::npos) {
            page.insert(bodyEnd, _extension->Markup());
        }
        return page;
    }

    Response MakeResponse(const Request& request, http::status status, const char* contentType,
                          std::string body) const
    {
        Response response(status, request.version());
        response.set(http::field::content_type, contentType);
        response.set(http::field::cache_control, "no-store");
        response.set("X-Frame-Options", "DENY");
        response.set("X-Content-Type-Options", "nosniff");
        response.set("Referrer-Policy", "no-referrer");
        response.set("Content-Security-Policy", _securityPolicy);
        response.keep_alive(request.keep_alive());
        response.body() = std::move(body);
        response.prepare_payload();
        return response;
    }

    Response JsonResponse(const Request& request, http::status status, std::string body) const
    {
        return MakeResponse(request, status, "application/json", std::move(body));
    }

    // Why the request may not change anything, empty when it may.
    std::string RefusalOfPost(const Request& request) const;
    Response CallService(const Request& request, const std::string& name, bool ofHost);

    tcp::acceptor _acceptor;
    boost::asio::steady_timer _retryTimer;
    std::chrono::milliseconds _retryDelay = FirstAcceptRetry;
    IProductWebService* _productWebService;
    IPageExtension* _extension;
    const std::string _token;
    const std::string _page;
    const std::string _securityPolicy;
    std::vector<std::string> _ownHosts;
    std::deque<std::weak_ptr<PageSession>> _sessions;  // oldest first
    std::size_t _openSessions = 0;
    std::size_t _connectionLimit = MaximumConnections;

    friend class PageSession;
};

namespace {

bool IsMalformed(const boost::system::error_code& error)
{
    return error.category() == beast::http::make_error_code(http::error::bad_method).category();
}

}  // namespace

// One connection: read a request, answer it, and again while the client
// keeps the connection; each request and its answer within RequestTimeout.
class PageSession : public std::enable_shared_from_this<PageSession> {
public:
    PageSession(tcp::socket&& socket, std::shared_ptr<ConfigurationPageServer::Listener> listener)
        : _stream(std::move(socket)), _listener(std::move(listener))
    {
    }
    ~PageSession() { _listener->Forget(); }

    void Run() { Read(); }

    void Close() { _stream.close(); }

private:
    void Read()
    {
        _parser.emplace();
        _parser->body_limit(ConfigurationPageServer::MaximumBodySize);
        _stream.expires_after(ConfigurationPageServer::RequestTimeout);
        http::async_read(_stream, _buffer, *_parser, beast::bind_front_handler(&PageSession::OnRead, shared_from_this()));
    }

    void OnRead(const boost::system::error_code& error, std::size_t)
    {
        if (error == http::error::end_of_stream) {
            return Shutdown();
        }
        if (error == http::error::body_limit) {
            return Refuse(http::status::payload_too_large, "RequestTooLarge");
        }
        if (error && IsMalformed(error)) {
            return Refuse(http::status::bad_request, "BadRequest");
        }
        if (error) {
            return;  // timeout, reset, closed: the connection goes
        }
        _response = _listener->Handle(_parser->release());
        Write();
    }

    // Answers and closes: the rest of what the client sent cannot be read.
    void Refuse(http::status status, const std::string& code)
    {
        ConfigurationPageServer::Request request;
        request.version(11);
        _response = _listener->JsonResponse(request, status, ErrorJson(code));
        _response.keep_alive(false);
        Write();
    }

    void Write()
    {
        _stream.expires_after(ConfigurationPageServer::RequestTimeout);
        http::async_write(_stream, _response, beast::bind_front_handler(&PageSession::OnWrite, shared_from_this()));
    }

    void OnWrite(const boost::system::error_code& error, std::size_t)
    {
        if (error) {
            return;
        }
        if (_response.need_eof()) {
            return Shutdown();
        }
        Read();
    }

    void Shutdown()
    {
        boost::system::error_code ignored;
        _stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
    }

    beast::tcp_stream _stream;
    beast::flat_buffer _buffer;
    boost::optional<http::request_parser<http::string_body>> _parser;
    ConfigurationPageServer::Response _response;
    std::shared_ptr<ConfigurationPageServer::Listener> _listener;
};

void ConfigurationPageServer::Listener::OnAccept(const boost::system::error_code& error, tcp::socket socket)
{
    if (error == boost::asio::error::operation_aborted || !_acceptor.is_open()) {
        return;
    }
    if (error) {
        // Out of descriptors (EMFILE) or memory: the oldest connection makes
        // room; without one, accepting again at once would only spin.
        if (CloseOldest()) {
            return Accept();
        }
        ORU_LOG_WARN("The configuration page cannot accept a connection: " << error.message());
        _retryTimer.expires_after(_retryDelay);
        _retryDelay = std::min(_retryDelay * 2, LastAcceptRetry);
        _retryTimer.async_wait(beast::bind_front_handler(&Listener::OnRetry, shared_from_this()));
        return;
    }
    _retryDelay = FirstAcceptRetry;
    if (_openSessions >= _connectionLimit) {
        CloseOldest();
    }
    if (_sessions.size() > 2 * MaximumConnections) {
        _sessions.erase(std::remove_if(_sessions.begin(), _sessions.end(),
                                       [](const std::weak_ptr<PageSession>& gone) { return gone.expired(); }),
                        _sessions.end());
    }
    auto session = std::make_shared<PageSession>(std::move(socket), shared_from_this());
    ++_openSessions;
    _sessions.push_back(session);
    session->Run();
    Accept();
}

bool ConfigurationPageServer::Listener::CloseOldest()
{
    while (!_sessions.empty()) {
        const auto oldest = _sessions.front().lock();
        _sessions.pop_front();
        if (oldest) {
            oldest->Close();
            return true;
        }
    }
    return false;
}

std::string ConfigurationPageServer::Listener::RefusalOfPost(const Request& request) const
{
    const auto origin = request.find(http::field::origin);
    if (origin != request.end() && origin->value() != "http://" + std::string(request[http::field::host])) {
        return "CrossOrigin";
    }
    const auto site = request.find("Sec-Fetch-Site");
    if (site != request.end() && site->value() != "same-origin" && site->value() != "none") {
        return "CrossOrigin";
    }
    if (!IsJsonContentType(request[http::field::content_type])) {
        return "UseJson";
    }
    if (request[TokenField] != _token) {
        return "PageToken";
    }
    return {};
}

ConfigurationPageServer::Response ConfigurationPageServer::Listener::Handle(const Request& request)
{
    const std::string host(request[http::field::host]);
    if (std::none_of(_ownHosts.begin(), _ownHosts.end(),
                     [&host](const std::string& own) { return beast::iequals(host, own); })) {
        auto response = MakeResponse(request, http::status::misdirected_request, "text/plain", "Unknown host.\n");
        response.keep_alive(false);
        return response;
    }
    if (_productWebService == nullptr) {
        return JsonResponse(request, http::status::service_unavailable, ErrorJson("Unavailable"));
    }

    const std::string target(request.target());
    const std::string path = target.substr(0, target.find('?'));
    const bool api = path.compare(0, ApiPrefix.size(), ApiPrefix) == 0;
    const bool hostApi = _extension != nullptr && path.compare(0, HostPrefix.size(), HostPrefix) == 0;
    if (api || hostApi) {
        if (request.method() != http::verb::post) {
            auto response = JsonResponse(request, http::status::method_not_allowed, ErrorJson("UsePost"));
            response.set(http::field::allow, "POST");
            return response;
        }
        const std::string refusal = RefusalOfPost(request);
        if (!refusal.empty()) {
            ORU_LOG_WARN("Configuration page request " << path << " refused: " << refusal);
            return JsonResponse(request,
                                refusal == "UseJson" ? http::status::unsupported_media_type : http::status::forbidden,
                                ErrorJson(refusal));
        }
        return CallService(request, path.substr(api ? ApiPrefix.size() : HostPrefix.size()), hostApi);
    }

    const PageFile file = _extension != nullptr ? _extension->FindFile(path) : PageFile{nullptr, nullptr};
    if (path == "/" || path == "/index.html" || file.body != nullptr) {
        if (request.method() != http::verb::get) {
            auto response = MakeResponse(request, http::status::method_not_allowed, "text/plain", "Use GET.\n");
            response.set(http::field::allow, "GET");
            return response;
        }
        return file.body != nullptr ? MakeResponse(request, http::status::ok, file.contentType, *file.body)
                                    : MakeResponse(request, http::status::ok, "text/html; charset=utf-8", _page);
    }
    return MakeResponse(request, http::status::not_found, "text/plain", "Not found.\n");
}

ConfigurationPageServer::Response ConfigurationPageServer::Listener::CallService(const Request& request,
                                                                                 const std::string& name, bool ofHost)
{
    rapidjson::Document parameters;
    if (IsBlank(request.body())) {
        parameters.SetObject();
    } else {
        // Iterative: deeply nested input cannot exhaust the stack.
        parameters.Parse<rapidjson::kParseIterativeFlag>(request.body().data(), request.body().size());
        if (parameters.HasParseError()) {
            return JsonResponse(request, http::status::bad_request, ErrorJson("InvalidJson"));
        }
    }

    ProductWebServiceResult result;
    try {
        result = ofHost ? _extension->HandleRequest(name, parameters)
                        : _productWebService->HandleRequest(name, parameters);
    } catch (const std::exception& error) {
        ORU_LOG_ERROR("The product web service failed on " << name << ": " << error.what());
        return JsonResponse(request, http::status::internal_server_error, ErrorJson("InternalError"));
    }

    if (std::holds_alternative<std::monostate>(result)) {
        return JsonResponse(request, http::status::not_found, ErrorJson("UnknownRequest"));
    }
    if (const auto* code = std::get_if<std::string>(&result)) {
        ORU_LOG_INFO("Configuration page request " << name << " answered " << *code);
        return JsonResponse(request, http::status::bad_request, ErrorJson(*code));
    }
    return JsonResponse(request, http::status::ok, JsonText(std::get<rapidjson::Document>(result)));
}

ConfigurationPageServer::ConfigurationPageServer(boost::asio::io_service& ioService,
                                                 IProductWebService& productWebService, IPageExtension* extension)
    : _listener(std::make_shared<Listener>(ioService, productWebService, extension))
{
}

ConfigurationPageServer::~ConfigurationPageServer() { Close(); }

boost::system::error_code ConfigurationPageServer::Listen(unsigned short port) { return _listener->Listen(port); }

unsigned short ConfigurationPageServer::GetPort() const { return _listener->GetPort(); }

void ConfigurationPageServer::Close() { _listener->Close(); }

ConfigurationPageServer::Response ConfigurationPageServer::Respond(const Request& request)
{
    return _listener->Handle(request);
}

}  // namespace Oru
