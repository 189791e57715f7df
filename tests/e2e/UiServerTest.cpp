// The server of `velmora ui` in-process, with httplib's client on loopback, against a simulated
// hand: who may drive the hand, what is served, what is refused and what reaches the hand.
#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include "Common.h"
#include "UiHand.h"
#include "UiServer.h"
#include "support/HandPeer.h"
#include "velmora/Models.h"
#include "velmora/sim/SimulatedHand.h"

using namespace velmora;
using namespace velmora::testing;
using velmora::tools::UiHand;
using velmora::tools::UiServer;
using velmora::tools::UiServerOptions;
using json = nlohmann::json;

namespace {

constexpr auto kHandDeadline = 30000ms;  // generous: other builds may share the machine

enum class Listener { Loopback, LoopbackWithToken, AnyAddress };

/// A simulated 10-joint hand behind a ui server on a free port.
struct Served {
    explicit Served(Listener listener) : session(options()), hand(session.hand(), TOVIN, 500ms) {
        UiServerOptions serving;
        serving.port = 0;
        if (listener == Listener::AnyAddress)
            serving.host = "0.0.0.0";
        if (listener != Listener::Loopback)
            serving.token = tools::newToken();
        serving.channel = session.channel();
        serving.simulated = true;
        server = std::make_unique<UiServer>(hand, serving);
        server->start();
        client = std::make_unique<httplib::Client>("127.0.0.1", server->port());
        client->set_read_timeout(10, 0);
    }

    static tools::HandOptions options() {
        tools::HandOptions o;
        o.model = "tovin";
        o.sim = true;
        o.channel = "virtual:can-" + uniqueBusName();
        return o;
    }

    json state() {
        const auto res = client->Get("/api/state");
        return res && res->status == 200 ? json::parse(res->body) : json();
    }

    /// The worker had two more turns: a command it was given is sent by now.
    void twoTurns() {
        const std::uint64_t now = state()["sequence"].get<std::uint64_t>();
        ASSERT_TRUE(eventually([&] { return state()["sequence"].get<std::uint64_t>() >= now + 2; },
                               kHandDeadline));
    }

    tools::HandSession session;
    UiHand hand;
    std::unique_ptr<UiServer> server;
    std::unique_ptr<httplib::Client> client;
};

enum class Token { None, Wrong, Right, Any };

struct Row {
    const char* what;
    Listener listener;
    const char* method;
    const char* path;
    Token token;
    std::string body;
    int status;
    httplib::Headers headers = {};
};

const std::string kTen = R"({"positions":[100,110,120,130,140,150,160,170,180,190]})";

}  // namespace

TEST(UiServer, RefusesWhatItMustAndServesOnlyItsOwnPages) {
    const Row rows[] = {
        // Who may drive the hand.
        {"no token, any address", Listener::AnyAddress, "POST", "/api/command", Token::None, kTen,
         403},
        {"wrong token", Listener::AnyAddress, "POST", "/api/command", Token::Wrong, kTen, 403},
        {"no token for a pose", Listener::AnyAddress, "POST", "/api/pose", Token::None,
         R"({"name":"close"})", 403},
        {"no token for stop", Listener::AnyAddress, "POST", "/api/stop", Token::None, "{}", 403},
        {"token set on loopback", Listener::LoopbackWithToken, "POST", "/api/command", Token::None,
         kTen, 403},
        {"a plain form on loopback", Listener::Loopback, "POST", "/api/command", Token::None, kTen,
         403},
        {"another site's page",
         Listener::Loopback,
         "POST",
         "/api/command",
         Token::Any,
         kTen,
         403,
         {{"Origin", "http://elsewhere.example"}}},
        {"another site's name for 127.0.0.1",
         Listener::Loopback,
         "GET",
         "/api/state",
         Token::None,
         "",
         403,
         {{"Host", "elsewhere.example"}}},
        // Only the embedded pages.
        {"a file of the machine", Listener::Loopback, "GET", "/etc/passwd", Token::None, "", 404},
        {"a source file", Listener::Loopback, "GET", "/../tools/ui/UiServer.cpp", Token::None, "",
         404},
        {"a page near an asset's name", Listener::Loopback, "GET", "/uixjs", Token::None, "", 404},
        {"an unknown command", Listener::Loopback, "POST", "/api/reboot", Token::Any, "{}", 404},
        {"a command by GET", Listener::Loopback, "GET", "/api/command", Token::None, "", 404},
        {"a reading by POST", Listener::Loopback, "POST", "/api/state", Token::Any, "{}", 405},
        // Checked as the command line checks them.
        {"oversized", Listener::Loopback, "POST", "/api/command", Token::Any,
         R"({"positions":[)" + std::string(5000, ' ') + "1]}", 400},
        {"not JSON", Listener::Loopback, "POST", "/api/command", Token::Any, "positions=1,2", 400},
        {"past 255", Listener::Loopback, "POST", "/api/command", Token::Any,
         R"({"positions":[1,2,300,4,5,6,7,8,9,10]})", 400},
        {"negative", Listener::Loopback, "POST", "/api/command", Token::Any,
         R"({"positions":[1,2,-3,4,5,6,7,8,9,10]})", 400},
        {"not whole", Listener::Loopback, "POST", "/api/command", Token::Any,
         R"({"positions":[1,2,3.5,4,5,6,7,8,9,10]})", 400},
        {"too few", Listener::Loopback, "POST", "/api/command", Token::Any,
         R"({"positions":[1,2,3]})", 400},
        {"both kinds", Listener::Loopback, "POST", "/api/command", Token::Any,
         R"({"positions":[1],"radians":[0.1]})", 400},
        {"radians past any number", Listener::Loopback, "POST", "/api/command", Token::Any,
         R"({"radians":[0,0,0,1e999,0,0,0,0,0,0]})", 400},
        {"an unknown pose", Listener::Loopback, "POST", "/api/pose", Token::Any,
         R"({"name":"wave"})", 400},
    };
    for (Listener listener :
         {Listener::Loopback, Listener::LoopbackWithToken, Listener::AnyAddress}) {
        Served served(listener);
        ASSERT_TRUE(
            eventually([&] { return !served.state()["positions"].is_null(); }, kHandDeadline));
        const ByteVector before = served.session.simulated()->body().positions(0, 10);
        for (const Row& row : rows) {
            if (row.listener != listener)
                continue;
            httplib::Headers headers = row.headers;
            if (row.token == Token::Wrong)
                headers.emplace(tools::kTokenHeader, tools::newToken());
            if (row.token == Token::Any)
                headers.emplace(tools::kTokenHeader, "-");
            const auto res =
                std::string(row.method) == "GET"
                    ? served.client->Get(row.path, headers)
                    : served.client->Post(row.path, headers, row.body, "application/json");
            ASSERT_TRUE(res) << row.what << ": " << httplib::to_string(res.error());
            EXPECT_EQ(res->status, row.status) << row.what << ": " << res->body;
            const json why = json::parse(res->body, nullptr, false);
            EXPECT_TRUE(why.is_object() && why["error"].is_string()) << row.what << ": a reason";
        }
        served.twoTurns();
        EXPECT_EQ(served.state()["commandsSent"], 0) << "a refused request reached the hand";
        EXPECT_EQ(served.session.simulated()->body().positions(0, 10), before);
    }
}

TEST(UiServer, ACommandMovesTheHandAndTheStateShowsIt) {
    Served served(Listener::AnyAddress);
    const httplib::Headers token = {{tools::kTokenHeader, served.server->token()}};
    auto res = served.client->Post("/api/command", token, kTen, "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 202) << res->body;
    const json want = json::parse(kTen)["positions"];
    EXPECT_TRUE(eventually([&] { return served.state()["positions"] == want; }, kHandDeadline))
        << served.state()["positions"];
    EXPECT_EQ(served.state()["target"], want);
    EXPECT_EQ(served.session.simulated()->body().positions(0, 10),
              ByteVector({100, 110, 120, 130, 140, 150, 160, 170, 180, 190}));

    // A pose from the catalogue, then a hold where the hand is.
    res = served.client->Post("/api/pose", token, R"({"name":"close"})", "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 202) << res->body;
    const ByteVector close = models::pose(TOVIN, models::PoseName::Close);
    EXPECT_TRUE(
        eventually([&] { return served.state()["positions"] == json(close); }, kHandDeadline));
    res = served.client->Post("/api/stop", token, "", "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 202);
    EXPECT_TRUE(eventually([&] { return served.state()["held"].get<bool>(); }, kHandDeadline));
    EXPECT_EQ(served.state()["target"], json(close)) << "held where the hand was";
}

TEST(UiServer, AFloodOfSliderCommandsEndsAtTheLastOneAndReadingsGoOn) {
    Served served(Listener::Loopback);
    // Two pages dragging sliders in turn: each request is taken at once, the newest wins.
    httplib::Client other("127.0.0.1", served.server->port());
    other.set_read_timeout(10, 0);
    const httplib::Headers token = {{tools::kTokenHeader, "-"}};
    ByteVector last;
    for (int i = 0; i < 200; ++i) {
        ByteVector positions(10);
        for (std::size_t s = 0; s < positions.size(); ++s)
            positions[s] = static_cast<std::uint8_t>(100 + (i * 7 + s * 13) % 90);
        httplib::Client& page = i % 2 == 0 ? *served.client : other;
        const auto res = page.Post("/api/command", token, json{{"positions", positions}}.dump(),
                                   "application/json");
        ASSERT_TRUE(res) << "command " << i << ": " << httplib::to_string(res.error());
        ASSERT_EQ(res->status, 202) << "command " << i << ": " << res->body;
        last = positions;
    }
    EXPECT_TRUE(
        eventually([&] { return served.state()["positions"] == json(last); }, kHandDeadline))
        << served.state()["positions"] << " instead of " << json(last);
    const json state = served.state();
    EXPECT_EQ(state["target"], json(last));
    EXPECT_FALSE(state["held"].get<bool>());
    EXPECT_GT(state["commandsSent"].get<std::uint64_t>(), 0u);
    EXPECT_EQ(served.session.simulated()->body().positions(0, 10), last);
    served.twoTurns();
    EXPECT_EQ(served.state()["positions"], json(last)) << "the hand stays at the last target";
}

TEST(UiServer, PagesTheCatalogueAndAStreamOfReadings) {
    Served served(Listener::Loopback);
    auto res = served.client->Get("/");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_NE(res->get_header_value("Content-Type").find("text/html"), std::string::npos);
    EXPECT_NE(res->body.find("/ui.js"), std::string::npos);

    res = served.client->Get("/api/model");
    ASSERT_TRUE(res);
    const json model = json::parse(res->body);
    const models::ModelInfo& m = models::info(TOVIN);
    ASSERT_EQ(model["joints"].size(), m.joints);
    for (std::size_t j = 0; j < m.joints; ++j) {
        const auto slot = static_cast<std::size_t>(m.slotOfJoint(j));
        EXPECT_EQ(model["joints"][j]["name"], models::jointName(TOVIN, slot));
        EXPECT_EQ(model["joints"][j]["label"], models::jointLabel(TOVIN, slot));
    }
    EXPECT_EQ(model["poses"].size(), std::size(models::kPoseNames));
    EXPECT_EQ(model["fingertips"]["rows"], m.fingertips.rows);
    EXPECT_FALSE(model["tokenRequired"].get<bool>());

    // Two readings off the stream, one after the other.
    std::vector<std::uint64_t> sequences;
    std::string buffer;
    res = served.client->Get("/api/events", [&](const char* data, std::size_t length) {
        buffer.append(data, length);
        for (std::size_t end; (end = buffer.find("\n\n")) != std::string::npos;) {
            const std::string event = buffer.substr(0, end);
            buffer.erase(0, end + 2);
            if (event.rfind("data: ", 0) == 0)
                sequences.push_back(json::parse(event.substr(6))["sequence"].get<std::uint64_t>());
        }
        return sequences.size() < 2;
    });
    ASSERT_EQ(sequences.size(), 2u);
    EXPECT_LT(sequences[0], sequences[1]);
}

TEST(UiServer, ATakenPortIsAReason) {
    Served first(Listener::Loopback);
    UiServerOptions same;
    same.port = first.server->port();
    UiServer second(first.hand, same);
    try {
        second.start();
        FAIL() << "a second server on port " << same.port;
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("Address already in use"), std::string::npos)
            << e.what();
    }
    EXPECT_THROW(UiServer(first.hand,
                          [] {
                              UiServerOptions o;
                              o.host = "0.0.0.0";
                              return o;
                          }()),
                 std::invalid_argument)
        << "another address without a token";
}
