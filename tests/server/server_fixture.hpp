#pragma once
// A server on a free loopback port with a fresh web directory, the program's parts on fakes
// (the idle rule hears of the requests), the main queue on virtual time and the log in a
// temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>

#include "server/http_client.hpp"
#include "server/server.hpp"
#include "support/core_fixture.hpp"

namespace scribbet::test {

inline const std::string page = "<!doctype html><title>layer</title>\n";

class ServerTest : public CoreTest {
protected:
    ServerTest() { writeFile(web / "overlay.html", page); }

    // Starts the server and waits until it listens; it tells the idle rule of requests as
    // the program's does.
    void start(Server::Options options = {}) {
        options.port = port;
        options.main = &main;
        options.requested = [this] { idle.requested(); };
        server = std::make_unique<Server>(web, std::move(options));
        ASSERT_TRUE(waitLogged(ready())) << "the server did not start";
    }

    std::string ready() const { return "Web server ready on port " + std::to_string(port) + "."; }
    std::string host() const { return "127.0.0.1:" + std::to_string(port); }

    // Waits in real time until the log holds `line`.
    bool waitLogged(const std::string& line, std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        do {
            if (count(line) > 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (std::chrono::steady_clock::now() < end);
        return false;
    }
    long count(const std::string& line) {
        const auto lines = logged();
        return std::count(lines.begin(), lines.end(), line);
    }
    long countStarting(const std::string& prefix) {
        const auto lines = logged();
        return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(prefix); });
    }

    // Sends raw bytes on a new connection and returns everything until the server closes.
    Client::Got exchange(const std::string& raw) {
        Client client(port);
        EXPECT_TRUE(client.connected());
        client.send(raw);
        return client.readAll();
    }
    Response get(const std::string& path, const std::string& headers = "") {
        return Response::from(exchange("GET " + path + " HTTP/1.1\r\nHost: " + host() + "\r\n" + headers + "\r\n").bytes);
    }

    std::filesystem::path web = dir / "web";
    std::uint16_t port = freePort();
    std::unique_ptr<Server> server;
};

} // namespace scribbet::test
