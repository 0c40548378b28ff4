// The HTTP transport over real sockets on loopback: what the server sees,
// and every way a call can fail.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Loopback.h"
#include "config/Errors.h"
#include "service/HttpTransport.h"
#include "service/PushService.h"

namespace cau {
namespace {

using namespace std::chrono_literals;
using testing::HttpServer;
using testing::RawServer;

const std::string kEnvOpen =
    "<soapenv:Envelope xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\">"
    "<soapenv:Body>";
const std::string kEnvClose = "</soapenv:Body></soapenv:Envelope>";

std::string LoginAnswer(const std::string& id) {
  return kEnvOpen + "<loginResponse><loginReturn>" + id + "</loginReturn></loginResponse>" +
         kEnvClose;
}

std::string Message(const std::function<void()>& call) {
  try {
    call();
  } catch (const Error& e) {
    return e.what();
  }
  ADD_FAILURE() << "the call succeeded";
  return {};
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(Transport, PostsTheSoapHeadersOnOnePersistentConnection) {
  HttpServer http;
  std::vector<httplib::Request> seen;
  http.server().Post("/ws", [&](const httplib::Request& req, httplib::Response& res) {
    seen.push_back(req);
    res.set_content(LoginAnswer("S-" + std::to_string(seen.size())), "text/xml");
  });
  HttpTransport transport;
  auto service = GetPushService(http.Url(), transport);
  EXPECT_EQ(service->login("u/p", Origem::CAU, "", "m", "1"), "S-1");
  EXPECT_EQ(service->login("u/p", Origem::CAU, "S-1", "m", "1"), "S-2");
  ASSERT_EQ(seen.size(), 2u);
  const auto& r = seen[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.path, "/ws");
  EXPECT_EQ(r.get_header_value("SOAPAction"), "\"login\"");
  EXPECT_EQ(r.get_header_value("Content-Type"), "text/xml; charset=\"utf-8\"");
  EXPECT_EQ(r.get_header_value("User-Agent"), "Borland SOAP 1.2");
  EXPECT_EQ(r.get_header_value("Pragma"), "no-cache");
  EXPECT_TRUE(Has(r.body, "<txtIdSessaoAnterior/>")) << r.body;
  EXPECT_TRUE(Has(seen[1].body, "<txtIdSessaoAnterior>S-1</txtIdSessaoAnterior>"));
  EXPECT_EQ(seen[0].remote_port, seen[1].remote_port) << "connection not kept alive";
}

TEST(Transport, LargeRequestGoesWholeInPiecesWithTheHookPerPiece) {
  HttpServer http;
  std::string received;
  http.server().Post("/ws", [&](const httplib::Request& req, httplib::Response& res) {
    received = req.body;
    res.set_content(kEnvOpen + "<r><ret/></r>" + kEnvClose, "text/xml");
  });
  ArrayOfProcessoVO cases;
  for (int i = 0; i < 400; ++i) {
    ProcessoVO& p = cases.emplace_back();
    p.codOrgao = "TJSP";
    p.codProcesso = std::string(150, 'N') + std::to_string(i);
    p.id = i;
  }
  HttpTransport transport;
  int sent = 0, answered = 0;
  std::string caption = "*", captions;
  transport.SetTrafficHook([&](Traffic t) {
    (t == Traffic::Sent ? sent : answered)++;
    caption = NextTrafficCaption(caption);
    captions += caption.empty() ? "_" : std::to_string(caption.size());
  });
  auto service = GetPushService(http.Url(), transport);
  EXPECT_TRUE(service->cadastraN("S", cases).empty());

  ASSERT_GT(received.size(), 3 * HttpTransport::kPieceSize);
  EXPECT_TRUE(received.ends_with("</SOAP-ENV:Envelope>"));
  EXPECT_TRUE(Has(received, std::string(150, 'N') + "399</codProcesso>"));
  const auto pieces = (received.size() + HttpTransport::kPieceSize - 1) / HttpTransport::kPieceSize;
  EXPECT_EQ(sent, static_cast<int>(pieces));
  EXPECT_GE(answered, 1);
  EXPECT_EQ(captions.substr(0, 5), "234_1");

  // A small body goes in one piece: no hook for sending.
  sent = answered = 0;
  service->escopoN("S");
  EXPECT_EQ(sent, 0);
  EXPECT_GE(answered, 1);
}

TEST(Transport, PiecesStartAboveTheLimitAndHoldAtMostItsSize) {
  HttpServer http;
  std::string received;
  http.server().Post("/ws", [&](const httplib::Request& req, httplib::Response& res) {
    received = req.body;
    res.set_content("ok", "text/plain");
  });
  HttpTransport transport;
  int sent = 0;
  transport.SetTrafficHook([&](Traffic t) { sent += t == Traffic::Sent; });
  const std::pair<std::size_t, int> cases[] = {{0, 0},     {32768, 0}, {32769, 2},
                                               {65536, 2}, {65537, 3}, {10 * 32768 + 5, 11}};
  for (const auto& [size, pieces] : cases) {
    SCOPED_TRACE(size);
    std::string body(size, 'b');
    if (size > 0) {
      body.back() = 'e';
    }
    sent = 0;
    const auto response = transport.Post(http.Url(), "x", body);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "ok");
    EXPECT_EQ(received, body);
    EXPECT_EQ(sent, pieces);
  }
}

TEST(Transport, HttpStatusErrorsNameStatusCodeAndAddress) {
  HttpServer http;
  http.server().Post("/ws", [](const httplib::Request&, httplib::Response& res) {
    res.status = 500;
    res.set_content("<html>Internal trouble</html>", "text/html");
  });
  HttpTransport transport;
  const auto missing = http.Url("/nada");
  const auto m404 = Message([&] { GetPushService(missing, transport)->logout("S"); });
  EXPECT_TRUE(Has(m404, "404") && Has(m404, "Not Found") && Has(m404, missing)) << m404;

  try {
    GetPushService(http.Url(), transport)->logout("S");
    ADD_FAILURE() << "500 accepted";
  } catch (const TransportError& e) {
    EXPECT_TRUE(Has(e.what(), "500") && Has(e.what(), "Internal Server Error")) << e.what();
  }
}

TEST(Transport, Status500WithFaultFailsWithTheFaultstring) {
  HttpServer http;
  http.server().Post("/ws", [](const httplib::Request&, httplib::Response& res) {
    res.status = 500;
    res.set_content(kEnvOpen +
                        "<soapenv:Fault><faultcode>soapenv:Server</faultcode>"
                        "<faultstring>Sessão expirada</faultstring></soapenv:Fault>" +
                        kEnvClose,
                    "text/xml");
  });
  HttpTransport transport;
  try {
    GetPushService(http.Url(), transport)->avisosN("S", 0, 100);
    ADD_FAILURE() << "fault accepted";
  } catch (const SoapFault& f) {
    EXPECT_STREQ(f.what(), "Sessão expirada");
    EXPECT_EQ(f.faultcode(), "soapenv:Server");
  }
}

TEST(Transport, ConnectionRefusedNamesAddressAndAction) {
  HttpTransport transport;
  const auto url = "http://127.0.0.1:" + std::to_string(testing::UnusedPort()) + "/ws";
  try {
    GetPushService(url, transport)->escopoN("S");
    ADD_FAILURE() << "no error";
  } catch (const TransportError& e) {
    const std::string m = e.what();
    EXPECT_TRUE(Has(m, url) && Has(m, "\"escopoN\"") && Has(m, "onnect")) << m;
  }
}

TEST(Transport, ServerThatStaysSilentTimesOut) {
  RawServer raw([](int fd) {
    RawServer::ReadRequest(fd);
    char c;
    (void)::recv(fd, &c, 1, 0);  // until the client gives up
  });
  HttpTransport transport;
  transport.SetReceiveTimeout(300ms);
  const auto start = std::chrono::steady_clock::now();
  const auto m = Message([&] { GetPushService(raw.Url(), transport)->logout("S"); });
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_TRUE(Has(m, "Tempo esgotado") && Has(m, "300 ms") && Has(m, raw.Url())) << m;
}

TEST(Transport, BrokenAnswersFailClearly) {
  struct Case {
    const char* name;
    std::string reply;
    std::string expected;
  };
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 5000\r\n\r\n";
  const Case cases[] = {
      {"closed mid-answer", head + kEnvOpen + "<r><x>partial", "Falha na conexão"},
      {"not HTTP", "\x01\x02garbage\xff\r\n\r\n", "Falha na conexão"},
      {"garbage body", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n\x01\xfe<<>>&&;",
       "Resposta inválida"},
      {"closed before answering", "", "Falha na conexão"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawServer raw([&](int fd) {
      RawServer::ReadRequest(fd);
      RawServer::Send(fd, c.reply);
    });
    HttpTransport transport;
    const auto m = Message([&] { GetPushService(raw.Url(), transport)->logout("S"); });
    EXPECT_TRUE(Has(m, c.expected)) << m;
  }
}

TEST(Transport, AnswerOverTheCapFailsWithoutHoldingIt) {
  HttpServer http;
  http.server().Post("/ws", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kEnvOpen + "<r><x>" + std::string(1 << 20, 'a') + "</x></r>" + kEnvClose,
                    "text/xml");
  });
  HttpTransport transport;
  transport.SetResponseCap(64 * 1024);
  const auto m = Message([&] { GetPushService(http.Url(), transport)->login("", {}, "", "", ""); });
  EXPECT_TRUE(Has(m, "limite de 65536 bytes")) << m;

  transport.SetResponseCap(2 << 20);
  EXPECT_EQ(GetPushService(http.Url(), transport)->login("", {}, "", "", "").size(), 1u << 20);
}

TEST(Transport, AHookThatThrowsEndsTheCallWithItsError) {
  HttpServer http;
  http.server().Post("/ws", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(LoginAnswer("x"), "text/xml");
  });
  HttpTransport transport;
  transport.SetTrafficHook([](Traffic) { throw Error("cancelado"); });
  EXPECT_EQ(Message([&] { GetPushService(http.Url(), transport)->login("", {}, "", "", ""); }),
            "cancelado");
}

TEST(Transport, HttpsWithAnUntrustedCertificateFails) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("cau-tls-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto cert = (dir / "cert.pem").string(), key = (dir / "key.pem").string();
  const auto make =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
      "-addext subjectAltName=IP:127.0.0.1 -keyout " +
      key + " -out " + cert + " 2>/dev/null";
  ASSERT_EQ(std::system(make.c_str()), 0);
  {
    HttpServer https(std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str()), "https");
    bool reached = false;
    https.server().Post("/ws", [&](const httplib::Request&, httplib::Response& res) {
      reached = true;
      res.set_content(LoginAnswer("x"), "text/xml");
    });
    HttpTransport transport;
    const auto m =
        Message([&] { GetPushService(https.Url(), transport)->login("u/p", {}, "", "", ""); });
    EXPECT_TRUE(Has(m, "Certificado") && Has(m, https.Url())) << m;
    EXPECT_FALSE(reached) << "the credential went to an unverified server";
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace cau
