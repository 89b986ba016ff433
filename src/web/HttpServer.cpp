#include "web/HttpServer.h"

#include "web/ConnectionTable.h"
#include "web/CameraPages.h"
#include "web/PasswordGuard.h"
#include "web/PublishedFile.h"
#include "web/WebPages.h"

#include "LumetraVersion.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <array>
#include <atomic>
#include <charconv>
#include <functional>
#include <thread>
#include <utility>

namespace lumetra::web {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using Request = http::request<http::empty_body>;

constexpr int kMaxConnections = 100;
// With a password, those that have not given it (guessers among them) fill at most this many places.
constexpr int kMaxUnauthenticated = 30;
constexpr std::size_t kHeaderLimit = 8 * 1024;
constexpr DWORD kSendTimeoutMs = 30000;
// A stream whose reader takes nothing for this long is closed. Each send hands over at most a piece,
// so a slow reader that still takes something is not mistaken for one that takes nothing.
constexpr DWORD kStreamStallMs = 10000;
constexpr std::size_t kStreamPiece = 64 * 1024;
constexpr auto kLongPollTime = 25s;
constexpr auto kStreamCheckInterval = 1s;
constexpr char kServerName[] = "Lumetra-web/" LUMETRA_VERSION_STRING;
constexpr char kBoundary[] = "lumetraframe";

struct Shared {
    explicit Shared(const WebOptions& options)
        : options(options), table(kMaxConnections, options.password.empty() ? 0 : kMaxUnauthenticated) {}

    WebOptions options;
    std::shared_ptr<ImageHub> hub;
    asio::io_context io; // sockets need one; all their calls here are blocking ones
    ConnectionTable table;
    PasswordGuard guard;
    Clock::time_point started = Clock::now();
    bool checkHost = false;
};

void SetTimeout(tcp::socket& socket, int option, DWORD milliseconds) {
    ::setsockopt(socket.native_handle(), SOL_SOCKET, option, reinterpret_cast<const char*>(&milliseconds),
                 sizeof milliseconds);
}

// Reads until a deadline: the socket's receive timeout ends each wait, this ends a request that
// trickles in a byte at a time.
class DeadlineReader {
  public:
    DeadlineReader(tcp::socket& socket, Clock::time_point deadline) : socket_(socket), deadline_(deadline) {}

    template <typename Buffers> std::size_t read_some(const Buffers& buffers, beast::error_code& error) {
        if (Clock::now() >= deadline_) {
            error = asio::error::timed_out;
            return 0;
        }
        return socket_.read_some(buffers, error);
    }
    template <typename Buffers> std::size_t read_some(const Buffers& buffers) {
        beast::error_code error;
        const std::size_t read = read_some(buffers, error);
        if (error)
            throw beast::system_error(error);
        return read;
    }

  private:
    tcp::socket& socket_;
    Clock::time_point deadline_;
};

// A request whose end two readers could place differently (a proxy in front of this service, and
// the service) would let a second request hide in its body; such a request ends the connection.
const char* FramingProblem(const Request& request) {
    if (request.count(http::field::host) > 1)
        return "The request names its Host more than once.";
    int codings = 0;
    std::string_view coding;
    for (const auto& field : request)
        if (field.name() == http::field::transfer_encoding) {
            ++codings;
            coding = field.value();
        }
    if (codings > 1 || (codings == 1 && (request.version() < 11 || !beast::iequals(coding, "chunked"))))
        return "The request's Transfer-Encoding is not chunked alone, so where the request ends is unclear.";
    return nullptr;
}

class Connection {
  public:
    // id: its place in the table (0 for a connection that is only refused).
    Connection(std::shared_ptr<Shared> shared, tcp::socket socket, ConnectionTable::Id id)
        : shared_(std::move(shared)), hub_(*shared_->hub), socket_(std::move(socket)), id_(id) {}
    ~Connection() {
        if (id_)
            shared_->table.Leave(id_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void Run();
    void RefuseBusy();

  private:
    // One page of the service. Each answers a request whose path is its own; it returns whether the
    // connection may serve another request.
    using Answer = bool (Connection::*)(const Request& request, std::string_view query, bool keepAlive);
    struct Route {
        std::string_view path;
        bool listed; // named in the answer to an unknown address
        Answer answer;
    };
    static const Route Routes[];
    // "Try /, /latest.jpg, /stream.mjpg or /status.json.", from the table.
    static std::string KnownPages();

    // The image status a stream follows in each snapshot; nullptr while there is none (a camera
    // that is not listed at the moment).
    using ImageSelector = std::function<const ImageStatus*(const ServiceStatus&)>;

    bool Serve(const Request& request);
    bool ServePage(const Request& request, std::string_view query, bool keepAlive);
    bool ServeSingleImagePage(const Request& request, std::string_view query, bool keepAlive);
    bool ServeImage(const Request& request, std::string_view query, bool keepAlive);
    bool ServeStatus(const Request& request, std::string_view query, bool keepAlive);
    bool ServeStream(const Request& request, std::string_view query, bool keepAlive);
    bool ServeCamera(const Request& request, std::string_view path, bool keepAlive);
    bool SendImage(const Request& request, const ImageStatus& status, bool keepAlive);
    bool SendStream(const ImageSelector& select);
    bool SendText(http::status status, const std::string& sentence, bool keepAlive,
                  const char* retryAfter = nullptr);
    template <typename Body> bool Send(http::response<Body>& response, bool keepAlive);
    bool PeerClosed();
    std::string RemoteAddress() const;
    void CloseGracefully();
    void CloseAbortively();

    std::shared_ptr<Shared> shared_;
    ImageHub& hub_;
    tcp::socket socket_;
    ConnectionTable::Id id_;
    bool dropped_ = false; // a stream nobody reads: what it holds back is dropped
    bool authenticated_ = false;

    beast::flat_buffer buffer_;
    unsigned version_ = 11;
    bool head_ = false;
};

// Every page answers GET and HEAD (checked before the table is looked at).
const Connection::Route Connection::Routes[] = {
    {"/", true, &Connection::ServePage},
    {"/index.html", false, &Connection::ServeSingleImagePage},
    {"/latest.jpg", true, &Connection::ServeImage},
    {"/stream.mjpg", true, &Connection::ServeStream},
    {"/status.json", true, &Connection::ServeStatus},
};

std::string Connection::KnownPages() {
    std::vector<std::string_view> listed;
    for (const Route& route : Routes)
        if (route.listed)
            listed.push_back(route.path);
    std::string text = "Try ";
    for (std::size_t i = 0; i < listed.size(); ++i)
        text += std::string(i == 0 ? "" : i + 1 == listed.size() ? " or " : ", ") + std::string(listed[i]);
    return text + ".";
}

void Connection::Run() {
    beast::error_code error;
    socket_.set_option(tcp::no_delay(true), error);
    // Room for a whole image, so that one send hands it over.
    socket_.set_option(asio::socket_base::send_buffer_size(512 * 1024), error);
    const auto idle = std::chrono::seconds(shared_->options.idleTimeoutSeconds);
    SetTimeout(socket_, SO_RCVTIMEO, static_cast<DWORD>(idle.count() * 1000));
    SetTimeout(socket_, SO_SNDTIMEO, kSendTimeoutMs);

    for (bool first = true;; first = false) {
        if (!shared_->table.AwaitRequest(id_))
            break;
        http::request_parser<http::empty_body> parser;
        parser.header_limit(kHeaderLimit);
        DeadlineReader reader(socket_, Clock::now() + idle);
        http::read_header(reader, buffer_, parser, error);
        if (!error) {
            if (const char* problem = FramingProblem(parser.get())) {
                version_ = 11;
                head_ = false;
                SendText(http::status::bad_request, problem, false);
                break;
            }
            http::read(reader, buffer_, parser, error);
        }
        if (error && shared_->table.Closed(id_))
            break;
        if (error) {
            version_ = 11;
            head_ = false;
            if (error == asio::error::timed_out) {
                // A keep-alive connection left idle simply ends; a request that never came is told.
                if (first || buffer_.size() > 0)
                    SendText(http::status::request_timeout,
                             "No complete request arrived within " + std::to_string(idle.count()) +
                                 " seconds.",
                             false);
            } else if (error == http::error::header_limit) {
                // The parser takes the request line as soon as it is whole: without it, the address
                // is what is too long.
                if (parser.get().target().empty())
                    SendText(http::status::uri_too_long, "The requested address is too long.", false);
                else
                    SendText(http::status::request_header_fields_too_large,
                             "The request's header is larger than 8 KB.", false);
            } else if (error != http::error::end_of_stream && error != http::error::partial_message &&
                       error != asio::error::connection_reset && error != asio::error::connection_aborted) {
                SendText(http::status::bad_request,
                         "The request could not be read as HTTP: " + error.message() + ".", false);
            }
            break;
        }
        if (!shared_->table.Answer(id_) || !Serve(parser.get()))
            break;
    }
    // Closed to make room: not another word. Out of the table before the handle closes, as the
    // system may hand the same value to the next connection.
    dropped_ = dropped_ || shared_->table.Closed(id_);
    shared_->table.Leave(std::exchange(id_, 0));
    if (dropped_)
        CloseAbortively();
    else
        CloseGracefully();
}

void Connection::RefuseBusy() {
    SetTimeout(socket_, SO_SNDTIMEO, 2000);
    SendText(http::status::service_unavailable, "Too many connections are open; try again in a moment.",
             false, "5");
    CloseGracefully();
}

bool Connection::Serve(const Request& request) {
    version_ = request.version();
    head_ = request.method() == http::verb::head;
    const bool keepAlive = request.keep_alive();
    const auto host = request.find(http::field::host);
    if (host == request.end() && version_ >= 11)
        return SendText(http::status::bad_request, "The request names no Host; HTTP/1.1 requires one.",
                        false);
    // Pages elsewhere must not reach the camera by pointing a name of theirs at 127.0.0.1.
    if (shared_->checkHost && host != request.end() && !HostIsLoopback(host->value()))
        return SendText(http::status::misdirected_request,
                        "This service answers only requests addressed to 127.0.0.1 or localhost.", false);
    if (const std::string& password = shared_->options.password; !password.empty()) {
        const auto credentials = request.find(http::field::authorization);
        const bool right =
            credentials != request.end() && BasicAuthorizationCarries(credentials->value(), password);
        if (credentials != request.end() && !(right && authenticated_)) {
            // A right password waits as long as a wrong one would, so the speed of the answer tells a
            // guesser nothing; on a connection it has opened already, there is nothing left to tell.
            const std::string address = RemoteAddress();
            const auto wait = right ? shared_->guard.Current(address) : shared_->guard.Wrong(address);
            if (wait > Clock::duration::zero() && !shared_->table.Wait(id_, wait))
                return false;
        }
        if (!right) {
            http::response<http::string_body> response{http::status::unauthorized, version_};
            response.set(http::field::www_authenticate, "Basic realm=\"Lumetra\", charset=\"UTF-8\"");
            response.set(http::field::content_type, "text/plain; charset=utf-8");
            response.body() = "This service needs its password (the user name can be anything).\n";
            return Send(response, keepAlive);
        }
        if (!std::exchange(authenticated_, true))
            shared_->table.Authenticated(id_);
    }
    if (request.method() != http::verb::get && !head_) {
        http::response<http::string_body> response{http::status::method_not_allowed, version_};
        response.set(http::field::allow, "GET, HEAD");
        response.set(http::field::content_type, "text/plain; charset=utf-8");
        response.body() = "Only GET and HEAD are answered here.\n";
        return Send(response, keepAlive);
    }

    std::string_view target = request.target();
    if (target.substr(0, 7) == "http://") { // absolute form: only the path counts
        const std::size_t slash = target.find('/', 7);
        target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
    }
    const std::size_t question = target.find('?');
    const std::string_view path = target.substr(0, question);
    const std::string_view query =
        question == std::string_view::npos ? std::string_view() : target.substr(question + 1);

    for (const Route& route : Routes)
        if (route.path == path)
            return (this->*route.answer)(request, query, keepAlive);
    if (path.substr(0, kCamerasPrefix.size()) == kCamerasPrefix)
        return ServeCamera(request, path, keepAlive);
    return SendText(http::status::not_found,
                    "There is no page " + std::string(path.substr(0, 100)) + " here. " + KnownPages(),
                    keepAlive);
}

// Every camera of the roster side by side; without any, the single image as before.
bool Connection::ServePage(const Request&, std::string_view, bool keepAlive) {
    const std::shared_ptr<const ServiceStatus> status = hub_.Current();
    http::response<http::string_body> response{http::status::ok, version_};
    response.set(http::field::content_type, "text/html; charset=utf-8");
    response.body() = status->cameras.empty() ? RenderPage(*status, true) : RenderCamerasPage(*status);
    return Send(response, keepAlive);
}

bool Connection::ServeSingleImagePage(const Request&, std::string_view, bool keepAlive) {
    http::response<http::string_body> response{http::status::ok, version_};
    response.set(http::field::content_type, "text/html; charset=utf-8");
    response.body() = RenderPage(*hub_.Current());
    return Send(response, keepAlive);
}

bool Connection::ServeImage(const Request& request, std::string_view, bool keepAlive) {
    const std::shared_ptr<const ServiceStatus> status = hub_.Current();
    return SendImage(request, *status, keepAlive);
}

// "/cameras/<name>/latest.jpg" and "/cameras/<name>/stream.mjpg", the name percent-encoded UTF-8.
bool Connection::ServeCamera(const Request& request, std::string_view path, bool keepAlive) {
    const std::string_view rest = path.substr(kCamerasPrefix.size());
    const std::size_t slash = rest.find('/');
    const std::string_view page =
        slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (page != "latest.jpg" && page != "stream.mjpg")
        return SendText(
            http::status::not_found,
            "There is no page " + std::string(path.substr(0, 100)) +
                " here. Each camera has /cameras/<name>/latest.jpg and /cameras/<name>/stream.mjpg.",
            keepAlive);
    const std::optional<std::string> name = DecodeCameraName(rest.substr(0, slash));
    if (!name)
        return SendText(http::status::bad_request,
                        "The camera name in the address is not percent-encoded UTF-8 text without / or \\.",
                        keepAlive);
    const std::shared_ptr<const ServiceStatus> status = hub_.Current();
    const CameraStatus* camera = status->FindCamera(*name);
    if (!camera)
        return SendText(http::status::not_found,
                        "No camera named " + *name + " is shown on the web by Lumetra now.", keepAlive);
    if (page == "latest.jpg")
        return SendImage(request, *camera, keepAlive);
    return SendStream(
        [name = *name](const ServiceStatus& now) -> const ImageStatus* { return now.FindCamera(name); });
}

bool Connection::SendImage(const Request& request, const ImageStatus& status, bool keepAlive) {
    const std::shared_ptr<const ServedImage> image = status.image;
    if (!image) {
        switch (status.state) {
        case PublicationState::Refused:
            return SendText(http::status::forbidden, status.message, keepAlive);
        case PublicationState::Missing:
            return SendText(http::status::not_found, status.message, keepAlive);
        case PublicationState::Unusable:
            return SendText(http::status::bad_gateway, status.message, keepAlive);
        default:
            return SendText(http::status::service_unavailable, status.message, keepAlive,
                            status.state == PublicationState::Pending ? "1" : "5");
        }
    }
    bool unchanged = false;
    if (const auto match = request.find(http::field::if_none_match); match != request.end()) {
        unchanged = EntityTagMatches(match->value(), image->etag);
    } else if (const auto since = request.find(http::field::if_modified_since); since != request.end()) {
        const auto sinceTime = ParseHttpDate(std::string(since->value()));
        unchanged = sinceTime && ParseHttpDate(image->lastModified) <= sinceTime;
    }
    const auto describe = [&](auto& response) {
        response.set(http::field::etag, image->etag);
        response.set(http::field::last_modified, image->lastModified);
    };
    if (unchanged) {
        http::response<http::empty_body> response{http::status::not_modified, version_};
        describe(response);
        return Send(response, keepAlive);
    }
    http::response<http::span_body<const char>> response{http::status::ok, version_};
    describe(response);
    response.set(http::field::content_type, "image/jpeg");
    response.body() = {image->bytes.data(), image->bytes.size()};
    return Send(response, keepAlive);
}

bool Connection::ServeStatus(const Request&, std::string_view query, bool keepAlive) {
    std::shared_ptr<const ServiceStatus> status = hub_.Current();
    // "?after=N": the page's long poll, answered when the status is no longer N.
    if (query.substr(0, 6) == "after=") {
        std::uint64_t seen = 0;
        const auto [end, failure] = std::from_chars(query.data() + 6, query.data() + query.size(), seen);
        if (failure == std::errc() && seen == status->sequence)
            status = hub_.WaitForChange(seen, Clock::now() + kLongPollTime);
    }
    const auto uptime =
        std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - shared_->started).count();
    http::response<http::string_body> response{http::status::ok, version_};
    response.set(http::field::content_type, "application/json; charset=utf-8");
    response.body() = RenderStatusJson(*status, uptime);
    return Send(response, keepAlive);
}

bool Connection::ServeStream(const Request&, std::string_view, bool) {
    return SendStream([](const ServiceStatus& now) -> const ImageStatus* { return &now; });
}

// The stream ends with its connection: it answers false whatever happened.
bool Connection::SendStream(const ImageSelector& select) {
    http::response<http::empty_body> response{http::status::ok, version_};
    response.set(http::field::content_type, std::string("multipart/x-mixed-replace; boundary=") + kBoundary);
    response.set(http::field::cache_control, "no-cache, no-store");
    response.set(http::field::pragma, "no-cache");
    response.set(http::field::server, kServerName);
    response.keep_alive(false); // the stream ends with the connection
    http::response_serializer<http::empty_body> serializer{response};
    beast::error_code error;
    SetTimeout(socket_, SO_SNDTIMEO, kStreamStallMs);
    const auto inPieces = [](const beast::error_code& failed, std::size_t) -> std::size_t {
        return failed ? 0 : kStreamPiece;
    };
    http::write_header(socket_, serializer, error);
    if (error || head_)
        return false;
    const std::string opening = std::string("--") + kBoundary + "\r\n";
    const std::string closing = std::string("\r\n--") + kBoundary + "\r\n";
    asio::write(socket_, asio::buffer(opening), inPieces, error);

    // The current image first, then every new one once; a slow reader skips to the newest.
    std::uint64_t seenStatus = 0, sentImage = 0;
    while (!error) {
        const auto status = hub_.WaitForChange(seenStatus, Clock::now() + kStreamCheckInterval);
        if (hub_.Stopped())
            return false;
        if (status->sequence == seenStatus) {
            if (PeerClosed())
                return false;
            continue;
        }
        seenStatus = status->sequence;
        const ImageStatus* followed = select(*status);
        const std::shared_ptr<const ServedImage> image = followed ? followed->image : nullptr;
        if (!image || image->sequence <= sentImage)
            continue;
        const std::string header =
            "Content-Type: image/jpeg\r\nContent-Length: " + std::to_string(image->bytes.size()) + "\r\n\r\n";
        const std::array<asio::const_buffer, 3> part{asio::buffer(header), asio::buffer(image->bytes),
                                                     asio::buffer(closing)};
        asio::write(socket_, part, inPieces, error);
        sentImage = image->sequence;
    }
    dropped_ = error == asio::error::timed_out;
    return false;
}

bool Connection::SendText(http::status status, const std::string& sentence, bool keepAlive,
                          const char* retryAfter) {
    http::response<http::string_body> response{status, version_};
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    if (retryAfter)
        response.set(http::field::retry_after, retryAfter);
    response.body() = sentence + "\n";
    return Send(response, keepAlive);
}

// Sends the answer (its header alone for HEAD); true when the connection may take another request.
template <typename Body> bool Connection::Send(http::response<Body>& response, bool keepAlive) {
    response.set(http::field::server, kServerName);
    if (response.find(http::field::cache_control) == response.end())
        response.set(http::field::cache_control, "no-cache");
    response.set("X-Content-Type-Options", "nosniff");
    response.keep_alive(keepAlive);
    response.prepare_payload();
    beast::error_code error;
    http::response_serializer<Body> serializer{response};
    if (head_)
        http::write_header(socket_, serializer, error);
    else
        http::write(socket_, serializer, error);
    return !error && keepAlive;
}

// Whether the client of an open stream has gone; anything it sends is dropped.
bool Connection::PeerClosed() {
    const SOCKET handle = socket_.native_handle();
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle, &readable);
    timeval now{0, 0};
    if (::select(0, &readable, nullptr, nullptr, &now) <= 0)
        return false;
    char dropped[512];
    return ::recv(handle, dropped, sizeof dropped, 0) <= 0;
}

std::string Connection::RemoteAddress() const {
    beast::error_code error;
    const tcp::endpoint peer = socket_.remote_endpoint(error);
    return error ? std::string("an unknown address") : peer.address().to_string();
}

void Connection::CloseAbortively() {
    beast::error_code error;
    socket_.set_option(asio::socket_base::linger(true, 0), error);
    socket_.close(error);
}

void Connection::CloseGracefully() {
    beast::error_code error;
    socket_.shutdown(tcp::socket::shutdown_send, error);
    // Reading what the client still sends, for a moment, keeps the close from resetting the answer
    // away before the client has read it.
    SetTimeout(socket_, SO_RCVTIMEO, 500);
    char drained[4096];
    for (int i = 0; i < 64 && !error; ++i)
        socket_.read_some(asio::buffer(drained), error);
    socket_.close(error);
}

} // namespace

struct HttpServer::Impl {
    explicit Impl(const WebOptions& options) : shared(std::make_shared<Shared>(options)) {}

    std::shared_ptr<Shared> shared;
    std::unique_ptr<tcp::acceptor> acceptor;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::string address;

    void AcceptLoop();
};

void HttpServer::Impl::AcceptLoop() {
    const SOCKET listening = acceptor->native_handle();
    auto swept = Clock::now();
    while (!stopping) {
        if (Clock::now() - swept >= 1s) {
            swept = Clock::now();
            shared->guard.Sweep(swept);
        }
        // A short wait, so that Stop is noticed without closing the socket under accept.
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(listening, &ready);
        timeval wait{0, 250000};
        if (::select(0, &ready, nullptr, nullptr, &wait) <= 0)
            continue;
        tcp::socket socket(shared->io);
        beast::error_code error;
        acceptor->accept(socket, error);
        if (error)
            continue;
        ConnectionTable::Id id = 0;
        const ConnectionTable::Admission admission = shared->table.Admit(socket.native_handle(), id);
        if (admission == ConnectionTable::Admission::Dropped)
            continue; // the socket closes with this scope
        try {
            // Made here, so that a thread that cannot start still takes it out of the table before
            // its socket closes.
            auto connection = std::make_unique<Connection>(shared, std::move(socket), id);
            std::thread([shared = shared, connection = std::move(connection), id]() mutable {
                try {
                    if (id)
                        connection->Run();
                    else
                        connection->RefuseBusy();
                } catch (const std::exception&) {
                    // Out of memory or the like: only this connection is lost.
                }
                connection.reset();
                if (!id)
                    shared->table.RefusalDone();
            }).detach();
        } catch (const std::exception&) {
            if (id)
                shared->table.Leave(id);
            else
                shared->table.RefusalDone();
        }
    }
}

HttpServer::HttpServer(const WebOptions& options, std::shared_ptr<ImageHub> hub)
    : impl_(std::make_unique<Impl>(options)) {
    impl_->shared->hub = std::move(hub);
    impl_->shared->checkHost = options.password.empty() && IsLoopbackAddress(options.bindAddress);
}

HttpServer::~HttpServer() {
    Stop();
}

bool HttpServer::Start(std::string& error) {
    const WebOptions& options = impl_->shared->options;
    beast::error_code failure;
    const asio::ip::address address = asio::ip::make_address(options.bindAddress, failure);
    if (failure) {
        error = options.bindAddress + " is not an IP address of this machine.";
        return false;
    }
    const tcp::endpoint endpoint(address, options.port);
    auto acceptor = std::make_unique<tcp::acceptor>(impl_->shared->io);
    acceptor->open(endpoint.protocol(), failure);
    if (!failure) {
        // No other program may take the port over while we listen on it.
        const BOOL exclusive = TRUE;
        ::setsockopt(acceptor->native_handle(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                     reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
        acceptor->bind(endpoint, failure);
    }
    if (!failure)
        acceptor->listen(asio::socket_base::max_listen_connections, failure);
    const std::string where = (address.is_v6() ? "[" + options.bindAddress + "]" : options.bindAddress) +
                              ":" + std::to_string(options.port);
    if (failure == asio::error::address_in_use || failure == asio::error::access_denied) {
        error = "Port " + std::to_string(options.port) + " on " + options.bindAddress +
                " is in use by another program: choose another one with --port.";
        return false;
    }
    if (failure.value() == WSAEADDRNOTAVAIL) {
        error = options.bindAddress + " is not an address of this machine.";
        return false;
    }
    if (failure) {
        error = "Cannot listen on " + where + ": " + failure.message() + ".";
        return false;
    }
    impl_->acceptor = std::move(acceptor);
    impl_->address = "http://" + where + "/";
    impl_->thread = std::thread([impl = impl_.get()] { impl->AcceptLoop(); });
    return true;
}

std::string HttpServer::Address() const {
    return impl_->address;
}

void HttpServer::Stop() {
    impl_->stopping = true;
    if (impl_->thread.joinable())
        impl_->thread.join();
    if (impl_->acceptor) {
        beast::error_code error;
        impl_->acceptor->close(error);
    }
}

} // namespace lumetra::web
