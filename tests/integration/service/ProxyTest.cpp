// Calls through a real forward proxy (tinyproxy with basic authentication)
// started for the test on a free loopback port.
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "Loopback.h"
#include "config/Errors.h"
#include "service/HttpTransport.h"
#include "service/PushService.h"

namespace cau {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
    }
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

class ProxyTest : public ::testing::Test {
 protected:
  static constexpr const char* kUser = "cau";
  static constexpr const char* kPassword = "s3nha";

  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("cau-proxy-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    port_ = testing::UnusedPort();
    const auto conf = dir_ / "tinyproxy.conf";
    std::ofstream(conf) << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\n"
                        << "MaxClients 10\nAllow 127.0.0.1\nBasicAuth " << kUser << " " << kPassword
                        << "\nLogFile \"" << (dir_ / "tinyproxy.log").string()
                        << "\"\nLogLevel Info\n";
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl("/usr/bin/tinyproxy", "tinyproxy", "-d", "-c", conf.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ASSERT_GT(pid_, 0);
    ASSERT_TRUE(WaitForProxy()) << "tinyproxy did not start";

    backend_.server().Post("/ws", [this](const httplib::Request& req, httplib::Response& res) {
      via_ = req.get_header_value("Via");
      res.set_content(
          "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body>"
          "<loginResponse><loginReturn>S-9</loginReturn></loginResponse></e:Body></e:Envelope>",
          "text/xml");
    });
  }

  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    fs::remove_all(dir_);
  }

  bool WaitForProxy() const {
    for (int i = 0; i < 500; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(port_));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      ::close(fd);
      if (up) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  std::string ProxyAddress() const { return "127.0.0.1:" + std::to_string(port_); }

  std::string Login(HttpTransport& transport) {
    via_.clear();
    return GetPushService(backend_.Url(), transport)->login("u/p", Origem::CAU, "", "m", "1");
  }

  fs::path dir_;
  int port_ = 0;
  pid_t pid_ = -1;
  testing::HttpServer backend_;
  std::string via_;
  ScopedEnv noProxy_{"no_proxy", nullptr}, noProxyUpper_{"NO_PROXY", nullptr};
};

TEST_F(ProxyTest, GivenProxyCarriesTheCallWithItsCredentials) {
  ScopedEnv bypass("no_proxy", "127.0.0.1,localhost");  // no bypass list for a given proxy
  HttpTransport transport;
  transport.SetProxy({ProxySettings::Mode::Explicit, ProxyAddress(), kUser, kPassword});
  EXPECT_EQ(Login(transport), "S-9");
  EXPECT_NE(via_.find("tinyproxy"), std::string::npos) << "Via: " << via_;
}

// The proxy refuses with its status and closes without reading the body, so
// the client sees either that status or a reset connection.
TEST_F(ProxyTest, WrongProxyPasswordFailsTheCall) {
  HttpTransport transport;
  transport.SetProxy({ProxySettings::Mode::Explicit, ProxyAddress(), kUser, "errada"});
  try {
    Login(transport);
    ADD_FAILURE() << "call went through";
  } catch (const TransportError& e) {
    const std::string m = e.what();
    EXPECT_NE(m.find(backend_.Url()), std::string::npos) << m;
    EXPECT_TRUE(m.find("407") != std::string::npos || m.find("401") != std::string::npos ||
                m.find("Falha na conexão") != std::string::npos)
        << m;
  }
  EXPECT_EQ(via_, "") << "the backend was reached";
}

TEST_F(ProxyTest, SystemSettingsComeFromTheEnvironmentAndNoProxyIgnoresThem) {
  const auto url = "http://" + std::string(kUser) + ":" + kPassword + "@" + ProxyAddress();
  ScopedEnv env("http_proxy", url.c_str());

  HttpTransport system;
  EXPECT_EQ(Login(system), "S-9");
  EXPECT_NE(via_.find("tinyproxy"), std::string::npos) << "Via: " << via_;

  HttpTransport direct;
  direct.SetProxy({ProxySettings::Mode::None, "", "", ""});
  EXPECT_EQ(Login(direct), "S-9");
  EXPECT_EQ(via_, "");
}

}  // namespace
}  // namespace cau
