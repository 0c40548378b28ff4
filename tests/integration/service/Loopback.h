// Servers on 127.0.0.1 for the transport tests: an HTTP one (cpp-httplib)
// and a raw TCP one that answers whatever bytes a test wants.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <httplib.h>

namespace cau::testing {

// An HTTP server running on its own thread for the life of the object.
class HttpServer {
 public:
  explicit HttpServer(std::unique_ptr<httplib::Server> server = std::make_unique<httplib::Server>(),
                      std::string scheme = "http")
      : owned_(std::move(server)), server_(*owned_), scheme_(std::move(scheme)) {
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ~HttpServer() {
    server_.stop();
    thread_.join();
  }
  httplib::Server& server() { return server_; }
  int port() const { return port_; }
  std::string Url(const std::string& path = "/ws") const {
    return scheme_ + "://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  std::unique_ptr<httplib::Server> owned_;
  httplib::Server& server_;
  std::string scheme_;
  int port_ = 0;
  std::thread thread_;
};

// Accepts connections one at a time and hands each socket to `serve`.
class RawServer {
 public:
  explicit RawServer(std::function<void(int)> serve) : serve_(std::move(serve)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd_, 4);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      while (!stop_) {
        const int c = ::accept(fd_, nullptr, nullptr);
        if (c < 0) {
          break;
        }
        if (!stop_) {
          serve_(c);
        }
        ::close(c);
      }
    });
  }
  ~RawServer() {
    stop_ = true;
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/ws"; }

  // Reads the request's head and as much of the body as is there.
  static std::string ReadRequest(int fd) {
    std::string in;
    char buf[65536];
    while (in.find("\r\n\r\n") == std::string::npos) {
      const auto n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) {
        break;
      }
      in.append(buf, static_cast<std::size_t>(n));
    }
    return in;
  }
  static void Send(int fd, const std::string& bytes) {
    (void)::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }

 private:
  std::function<void(int)> serve_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A loopback port that nothing listens on (bound, then released).
inline int UnusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

}  // namespace cau::testing
