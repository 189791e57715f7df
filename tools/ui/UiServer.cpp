#include "UiServer.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>

#include "Common.h"
#include "UiAssets.h"
#include "velmora/Models.h"

namespace velmora {
namespace tools {

namespace {

using json = nlohmann::json;
using httplib::Request;
using httplib::Response;
using Handled = httplib::Server::HandlerResponse;
using namespace std::chrono_literals;

// A browser holds one stream and a few short requests; the pool keeps threads for commands
// however many pages watch.
constexpr std::size_t kThreads = 24;
constexpr int kMaxStreams = 16;
constexpr auto kStreamWait = 200ms;
constexpr auto kKeepAliveComment = 2s;

const char* const kGetPaths[] = {"/api/model", "/api/state", "/api/events"};
const char* const kPostPaths[] = {"/api/command", "/api/pose", "/api/stop"};

const UiAsset* findAsset(const std::string& path) {
    const std::string wanted = path == "/" ? "/index.html" : path;
    for (const UiAsset* a = uiAssetsBegin(); a != uiAssetsEnd(); ++a) {
        if (wanted == a->path)
            return a;
    }
    return nullptr;
}

template <std::size_t N>
bool oneOf(const std::string& path, const char* const (&paths)[N]) {
    for (const char* p : paths) {
        if (path == p)
            return true;
    }
    return false;
}

void reply(Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(body.dump(), "application/json");
}

void refuse(Response& res, int status, const std::string& why) {
    reply(res, status, json{{"error", why}});
}

/// The host of a Host header, without port and brackets.
std::string hostOf(const std::string& header) {
    if (!header.empty() && header.front() == '[') {
        const std::size_t close = header.find(']');
        return close == std::string::npos ? header : header.substr(1, close - 1);
    }
    return header.substr(0, header.find(':'));
}

bool sameSecret(const std::string& a, const std::string& b) {
    unsigned diff = a.size() == b.size() ? 0u : 1u;
    for (std::size_t i = 0; i < a.size(); ++i)
        diff |= unsigned(std::uint8_t(a[i]) ^ std::uint8_t(i < b.size() ? b[i] : 0));
    return diff == 0;
}

json labelled(VELMORA model, const std::optional<ByteVector>& values) {
    if (!values)
        return nullptr;
    json out = json::array();
    for (const Labelled& v : meaningful(model, *values))
        out.push_back({{"label", v.label}, {"value", v.value}});
    return out;
}

json optionalBytes(const std::optional<ByteVector>& values) {
    return values ? json(*values) : json(nullptr);
}

json modelJson(VELMORA model, const UiServerOptions& options, double rate) {
    const models::ModelInfo& m = models::info(model);
    json joints = json::array();
    for (std::size_t j = 0; j < m.joints; ++j) {
        const int slot = m.slotOfJoint(j);
        if (slot == models::kNoSlot)
            break;
        const auto s = static_cast<std::size_t>(slot);
        joints.push_back({{"slot", slot},
                          {"name", models::jointName(model, s)},
                          {"label", models::jointLabel(model, s)},
                          {"finger", m.slotTable[s].finger},
                          {"angle", m.hasAngle(s)}});
    }
    json fingerJoints = json::array();
    for (const auto& finger : m.fingerJoints) {
        json slots = json::array();
        for (int s : finger) {
            if (s != models::kNoSlot)
                slots.push_back(s);
        }
        fingerJoints.push_back(slots);
    }
    json readings = json::array();
    for (const models::ReadingName& r : models::kReadingNames)
        readings.push_back({{"name", r.name}, {"unit", r.unit}, {"answers", m.reports(r.reading)}});
    return {{"model", m.name},
            {"description", m.description},
            {"className", m.className},
            {"side", models::sideName(options.side)},
            {"channel", options.channel},
            {"simulated", options.simulated},
            {"slots", m.slots},
            {"joints", joints},
            {"fingers", models::kFingerNames},
            {"fingerJoints", fingerJoints},
            {"poses", models::kPoseNames},
            {"readings", readings},
            {"fingertips",
             {{"fingers", m.fingertips.fingers},
              {"rows", m.fingertips.rows},
              {"columns", m.fingertips.columns},
              {"summaryValues", m.fingertips.summaryValues}}},
            {"angles", m.hasAngleTables()},
            {"rate", rate},
            {"tokenRequired", !options.token.empty()},
            {"tokenHeader", kTokenHeader}};
}

json readingJson(VELMORA model, const UiReading& r) {
    const hand::HandHealth& h = r.health;
    json health = {{"framesReceived", h.framesReceived}, {"framesIgnored", h.framesIgnored},
                   {"framesDropped", h.framesDropped},   {"sendFailures", h.sendFailures},
                   {"receiveErrors", h.receiveErrors},   {"reconnects", h.reconnects},
                   {"channelUp", h.channelUp},           {"lastFrameAgeMs", nullptr}};
    if (h.lastFrameAge)
        health["lastFrameAgeMs"] =
            std::chrono::duration<double, std::milli>(*h.lastFrameAge).count();
    return {{"sequence", r.sequence},
            {"time", std::chrono::duration<double, std::milli>(r.at.time_since_epoch()).count()},
            {"positions", optionalBytes(r.positions)},
            {"temperatures", labelled(model, r.temperatures)},
            {"faults", labelled(model, r.faults)},
            {"force", r.force},
            {"health", health},
            {"version", r.version},
            {"problem", r.problem},
            {"target", optionalBytes(r.target)},
            {"held", r.held},
            {"commandsSent", r.commandsSent}};
}

std::string poseChoices() {
    std::string text;
    for (std::size_t i = 0; i < std::size(models::kPoseNames); ++i) {
        if (i > 0)
            text += i + 1 == std::size(models::kPoseNames) ? " or " : ", ";
        text += models::kPoseNames[i];
    }
    return text;
}

/// Checks a command with the command line's rules and hands it to the stream; the reason it
/// was refused, empty when accepted.
std::string takeCommand(UiHand& hand, const std::string& body) {
    const json doc = json::parse(body, nullptr, false);
    if (doc.is_discarded() || !doc.is_object())
        return "the body is not a JSON object";
    const bool positions = doc.contains("positions"), radians = doc.contains("radians");
    if (positions == radians || doc.size() != 1)
        return "give exactly one of positions or radians";
    const VELMORA model = hand.model();
    const std::string name = models::modelName(model);
    const json& values = doc.begin().value();
    if (!values.is_array())
        return std::string(positions ? "positions" : "radians") + " must be a list of numbers";
    if (positions) {
        ByteVector bytes;
        for (const json& v : values) {
            if (!v.is_number_integer())
                return "positions values must be whole numbers from 0 to 255";
            if (v.is_number_unsigned() ? v.get<std::uint64_t>() > 255 : v.get<std::int64_t>() < 0)
                return "positions values must be 0 to 255, not " + v.dump();
            bytes.push_back(static_cast<std::uint8_t>(v.get<int>()));
        }
        const auto slots = models::perSlot<std::uint8_t>(model, bytes);
        if (!slots)
            return name + " " + models::countsTaken(model);
        hand.command(*slots);
        return "";
    }
    if (!models::info(model).hasAngleTables())
        return name + " has no joint-angle tables: give positions";
    RadianVector angles;
    for (const json& v : values) {
        if (!v.is_number() || !std::isfinite(v.get<double>()))
            return "radians values must be finite numbers";
        angles.push_back(v.get<double>());
    }
    const auto slots = models::perSlot<double>(model, angles, 0.0);
    if (!slots)
        return name + " " + models::countsTaken(model);
    try {
        hand.commandArc(*slots);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "";
}

std::string takePose(UiHand& hand, const std::string& body) {
    const json doc = json::parse(body, nullptr, false);
    if (doc.is_discarded() || !doc.is_object() || !doc.contains("name") || !doc["name"].is_string())
        return "give the pose as {\"name\": \"" + std::string(models::kPoseNames[0]) + "\"}";
    const std::string name = doc["name"].get<std::string>();
    const auto which = models::poseFromName(name);
    if (!which)
        return "unknown pose '" + name + "': choose " + poseChoices();
    hand.command(models::pose(hand.model(), *which));
    return "";
}

/// Why `host`:`port` cannot be bound, as the system says it.
std::string bindError(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found))
        return ::gai_strerror(rc);
    std::string why = "cannot bind";
    const int fd = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    if (fd >= 0) {
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0)
            why = std::strerror(errno);
        ::close(fd);
    }
    ::freeaddrinfo(found);
    return why;
}

}  // namespace

bool isLoopback(const std::string& host) {
    return host == "localhost" || host == "::1" || host == "[::1]" || host.rfind("127.", 0) == 0;
}

std::string newToken() {
    std::random_device random;
    static const char kHex[] = "0123456789abcdef";
    std::string token;
    for (int word = 0; word < 4; ++word) {
        std::uint32_t bits = random();
        for (int nibble = 0; nibble < 8; ++nibble, bits >>= 4)
            token += kHex[bits & 0xF];
    }
    return token;
}

struct UiServer::Impl {
    httplib::Server server;
    std::string model;
    std::mutex cacheMutex;
    std::uint64_t cachedSequence = 0;
    std::shared_ptr<const std::string> cached;
    std::atomic<int> streams{0};
    std::atomic<bool> stopping{false};

    /// The reading after `sequence` (or the latest) as JSON, made once for every client.
    std::pair<std::uint64_t, std::shared_ptr<const std::string>> readingAfter(
        UiHand& hand, std::uint64_t sequence, std::chrono::milliseconds wait) {
        const UiReading r = hand.readAfter(sequence, wait);
        std::lock_guard<std::mutex> lock(cacheMutex);
        if (!cached || cachedSequence != r.sequence) {
            cached = std::make_shared<const std::string>(readingJson(hand.model(), r).dump());
            cachedSequence = r.sequence;
        }
        return {r.sequence, cached};
    }
};

UiServer::UiServer(UiHand& hand, UiServerOptions options)
    : hand_(hand), options_(std::move(options)), impl_(std::make_unique<Impl>()) {
    if (options_.token.empty() && !isLoopback(options_.host))
        throw std::invalid_argument("listening on " + options_.host + " needs a token");
    impl_->model = modelJson(hand_.model(), options_, hand_.rate()).dump();
    httplib::Server& server = impl_->server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    // One listener per port: httplib's default SO_REUSEPORT would let a second one share it.
    server.set_socket_options([](socket_t sock) {
        const int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    server.set_payload_max_length(kMaxBody);
    server.set_keep_alive_timeout(2);
    server.set_read_timeout(5);

    const bool loopback = isLoopback(options_.host);
    server.set_pre_routing_handler([this, loopback](const Request& req, Response& res) {
        // A page of another site whose name resolves to 127.0.0.1 still names itself in Host.
        if (loopback && !isLoopback(hostOf(req.get_header_value("Host")))) {
            refuse(res, 403, "this server answers only to a loopback host name");
            return Handled::Handled;
        }
        if (req.method == "GET" || req.method == "HEAD") {
            if (findAsset(req.path) || oneOf(req.path, kGetPaths))
                return Handled::Unhandled;
            refuse(res, 404, "no such page");
            return Handled::Handled;
        }
        // The body of a refused request is not read: the connection ends with the answer.
        res.set_header("Connection", "close");
        if (req.method != "POST" || !oneOf(req.path, kPostPaths)) {
            refuse(res, oneOf(req.path, kPostPaths) || oneOf(req.path, kGetPaths) ? 405 : 404,
                   "no such command");
            return Handled::Handled;
        }
        const std::string origin = req.get_header_value("Origin");
        if ((!origin.empty() && origin != "http://" + req.get_header_value("Host")) ||
            req.get_header_value("Sec-Fetch-Site") == "cross-site") {
            refuse(res, 403, "a page of another site cannot drive the hand");
            return Handled::Handled;
        }
        if (!req.has_header(kTokenHeader) ||
            (!options_.token.empty() &&
             !sameSecret(req.get_header_value(kTokenHeader), options_.token))) {
            refuse(res, 403, std::string("missing or wrong ") + kTokenHeader + " header");
            return Handled::Handled;
        }
        if (req.get_header_value<std::uint64_t>("Content-Length") > kMaxBody) {
            refuse(res, 400, "a request body has at most " + std::to_string(kMaxBody) + " bytes");
            return Handled::Handled;
        }
        res.headers.erase("Connection");
        return Handled::Unhandled;
    });
    server.set_error_handler(httplib::Server::HandlerWithResponse([](const Request&,
                                                                     Response& res) {
        if (res.status == 413) {  // a chunked body past the limit
            res.set_header("Connection", "close");
            refuse(res, 400, "a request body has at most " + std::to_string(kMaxBody) + " bytes");
            return Handled::Handled;
        }
        return Handled::Unhandled;
    }));

    for (const UiAsset* a = uiAssetsBegin(); a != uiAssetsEnd(); ++a) {
        std::string pattern;
        for (const char* c = a->path; *c; ++c)
            pattern += *c == '.' ? std::string("\\.") : std::string(1, *c);
        if (pattern == "/index\\.html")
            pattern = "/(index\\.html)?";
        server.Get(pattern, [a](const Request&, Response& res) {
            res.set_content(reinterpret_cast<const char*>(a->data), a->size, a->type);
            res.set_header("Cache-Control", "no-cache");
            res.set_header("X-Content-Type-Options", "nosniff");
            res.set_header("Content-Security-Policy",
                           "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'");
        });
    }
    server.Get("/api/model", [this](const Request&, Response& res) {
        res.set_content(impl_->model, "application/json");
    });
    server.Get("/api/state", [this](const Request&, Response& res) {
        const auto latest = impl_->readingAfter(hand_, UINT64_MAX, 0ms);
        res.set_content(*latest.second, "application/json");
        res.set_header("Cache-Control", "no-store");
    });
    server.Get("/api/events", [this](const Request&, Response& res) {
        if (++impl_->streams > kMaxStreams) {
            --impl_->streams;
            refuse(res, 503, "too many pages watching");
            return;
        }
        struct Stream {
            std::uint64_t sent = 0;
            std::chrono::steady_clock::time_point wrote = std::chrono::steady_clock::now();
        };
        auto stream = std::make_shared<Stream>();
        res.set_header("Cache-Control", "no-store");
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, stream](std::size_t, httplib::DataSink& sink) {
                if (impl_->stopping)
                    return false;
                const auto [sequence, text] = impl_->readingAfter(hand_, stream->sent, kStreamWait);
                const auto now = std::chrono::steady_clock::now();
                std::string event;
                if (sequence > stream->sent) {
                    event = "data: " + *text + "\n\n";
                    stream->sent = sequence;
                } else if (now - stream->wrote > kKeepAliveComment) {
                    event = ": still here\n\n";  // finds a page that went away
                } else {
                    return true;
                }
                stream->wrote = now;
                return sink.write(event.data(), event.size());
            },
            [this](bool) { --impl_->streams; });
    });
    server.Post("/api/command", [this](const Request& req, Response& res) {
        const std::string why = takeCommand(hand_, req.body);
        why.empty() ? reply(res, 202, json{{"accepted", true}}) : refuse(res, 400, why);
    });
    server.Post("/api/pose", [this](const Request& req, Response& res) {
        const std::string why = takePose(hand_, req.body);
        why.empty() ? reply(res, 202, json{{"accepted", true}}) : refuse(res, 400, why);
    });
    server.Post("/api/stop", [this](const Request&, Response& res) {
        hand_.hold();
        reply(res, 202, json{{"accepted", true}});
    });
}

UiServer::~UiServer() {
    stop();
}

void UiServer::start() {
    std::string host = options_.host;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    httplib::Server& server = impl_->server;
    bool bound = false;
    if (options_.port == 0) {
        port_ = server.bind_to_any_port(host);
        bound = port_ > 0;
    } else {
        port_ = options_.port;
        bound = server.bind_to_port(host, port_);
    }
    if (!bound) {
        throw std::runtime_error("cannot listen on " + options_.host + ":" +
                                 std::to_string(options_.port) + ": " +
                                 bindError(host, options_.port));
    }
    listening_ = true;
    listener_ = std::thread([this] {
        impl_->server.listen_after_bind();
        listening_ = false;
    });
    // stop() is lost on a server that has not begun to listen yet.
    while (listening_ && !server.is_running())
        std::this_thread::sleep_for(1ms);
}

void UiServer::stop() {
    impl_->stopping = true;
    if (listener_.joinable()) {
        impl_->server.stop();
        listener_.join();
    }
}

std::string UiServer::url() const {
    std::string host = options_.host;
    if (host == "0.0.0.0" || host == "::" || host == "[::]")
        host = "127.0.0.1";  // what a browser on this machine opens; others use the address
    else if (host.find(':') != std::string::npos && host.front() != '[')
        host = "[" + host + "]";
    std::string url = "http://" + host + ":" + std::to_string(port_) + "/";
    if (!options_.token.empty())
        url += "#token=" + options_.token;
    return url;
}

}  // namespace tools
}  // namespace velmora
