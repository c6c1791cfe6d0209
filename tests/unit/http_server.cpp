#include "http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {

int listen_loopback(uint16_t* port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    *port = ntohs(addr.sin_port);
    return fd;
}

void send_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

std::string header_value(const std::string& head, const std::string& name) {
    size_t at = head.find("\r\n" + name + ": ");
    if (at == std::string::npos) return "";
    at += name.size() + 4;
    return head.substr(at, head.find("\r\n", at) - at);
}

}  // namespace

LoopbackServer::LoopbackServer() {
    listener_ = listen_loopback(&port_);
    ::listen(listener_, 16);
    thread_ = std::thread([this] { loop(); });
}

LoopbackServer::~LoopbackServer() {
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

void LoopbackServer::serve(const std::string& path, Response response) {
    std::lock_guard<std::mutex> lock(mutex_);
    responses_[path] = response;
}

std::string LoopbackServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<LoopbackServer::Request> LoopbackServer::requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void LoopbackServer::loop() {
    while (!stopping_) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        answer(client);
        ::close(client);
    }
}

void LoopbackServer::answer(int client) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        head.append(buffer, static_cast<size_t>(n));
    }
    size_t start = head.find(' ') + 1;
    std::string path = head.substr(start, head.find(' ', start) - start);
    Response response;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back({path, header_value(head, "User-Agent")});
        auto it = responses_.find(path);
        if (it != responses_.end())
            response = it->second;
        else
            response = Response(404, "not here");
    }
    std::string reply = "HTTP/1.1 " + std::to_string(response.status) + " X\r\nContent-Length: " +
                        std::to_string(response.body.size()) + "\r\nConnection: close\r\n";
    if (!response.location.empty()) reply += "Location: " + response.location + "\r\n";
    reply += "\r\n";
    send_all(client, reply.data(), reply.size());
    size_t body = response.body.size() < response.cut_after ? response.body.size() : response.cut_after;
    send_all(client, response.body.data(), body);
}

uint16_t refused_port() {
    uint16_t port = 0;
    int fd = listen_loopback(&port);
    ::close(fd);
    return port;
}
