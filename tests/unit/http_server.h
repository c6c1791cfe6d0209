// A one-thread HTTP server on 127.0.0.1 for download tests: answers every
// request from a table of canned responses and records what was asked.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LoopbackServer {
public:
    struct Response {
        Response(int status_ = 200, std::string body_ = "", std::string location_ = "", size_t cut_after_ = SIZE_MAX)
            : status(status_), body(std::move(body_)), location(std::move(location_)), cut_after(cut_after_) {}
        int status;
        std::string body;
        std::string location;  // sent as a redirect target when set
        size_t cut_after;      // close the connection after this many body bytes
    };
    struct Request {
        std::string path;
        std::string user_agent;
    };

    LoopbackServer();
    ~LoopbackServer();

    void serve(const std::string& path, Response response);
    uint16_t port() const { return port_; }
    std::string url(const std::string& path) const;
    std::vector<Request> requests();

private:
    void loop();
    void answer(int client);

    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::map<std::string, Response> responses_;
    std::vector<Request> requests_;
    std::thread thread_;
};

// A loopback port with nothing listening.
uint16_t refused_port();
