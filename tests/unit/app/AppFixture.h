// Shared pieces of the main window tests: a desktop that records every box
// and answers from a script, a scripted service, tables that fail on
// request, and a host folder in a temporary directory.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/atualizaPush.h"
#include "config/Clock.h"
#include "config/Cp1252.h"
#include "config/Errors.h"
#include "config/Scrambler.h"
#include "db/xbase/Schema.h"
#include "log/HotLog.h"

namespace cau::testing {

namespace fs = std::filesystem;

struct Box {
  std::string text, caption;
  MsgIcon icon;
  MsgButtons buttons;
};

class RecorderDesktop : public Desktop {
 public:
  std::deque<MsgAnswer> answers;  // for questions; No when it runs out
  std::vector<Box> boxes;
  std::function<void()> onProcessMessages;
  int processed = 0;
  bool closed = false;
  std::vector<bool> hourglass;
  std::vector<std::string> opened, html, updateChecks;
  int notices = 0;
  int noticesShown = 0;

  MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                       MsgButtons buttons) override {
    boxes.push_back({text, caption, icon, buttons});
    if (buttons == MsgButtons::Ok)
      return MsgAnswer::Ok;
    if (answers.empty())
      return MsgAnswer::No;
    const MsgAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  void ProcessMessages() override {
    ++processed;
    if (onProcessMessages) {
      auto hook = std::move(onProcessMessages);  // runs once
      onProcessMessages = nullptr;
      hook();
    }
  }
  void SetHourglass(bool busy) override { hourglass.push_back(busy); }
  void RepaintNow(const Control&) override {}
  void OpenInBrowser(const std::string& address) override { opened.push_back(address); }
  int NoticeCount() override { return notices; }
  void ShowNotices() override { ++noticesShown; }
  void ShowHtml(const std::string& h) override { html.push_back(h); }
  void CheckForUpdate(const std::string& address) override { updateChecks.push_back(address); }
  void CloseMainWindow() override { closed = true; }
};

struct LoginCall {
  std::string credencial, anterior, maquina, versao;
};

// A call of one of the batch operations: the session and what was sent.
struct BatchCall {
  std::string sessionId;
  ArrayOfProcessoVO processos;
};
struct PageCall {
  std::string sessionId;
  std::int64_t aPartir = 0, limite = 0, offset = 0;
};

// A service whose every operation answers from a script and records its
// calls; an operation left unscripted fails with "not scripted".
class ScriptedService : public PushServicePortType {
 public:
  struct Script {
    std::function<std::string()> login = [] { return std::string("S1"); };
    std::function<AvisoLogoutVO()> logout = [] {
      return AvisoLogoutVO{"2026-04-02 10:20:30.5", 7, 9};
    };
    std::function<ArrayOfEscopoVO()> escopo = []() -> ArrayOfEscopoVO {
      throw Error("not scripted");
    };
    std::function<ArrayOfAvisoVO(const ArrayOfProcessoVO&)> cadastra, descadastra;
    std::function<ArrayOfProcessoVO(const ArrayOfProcessoVO&)> consulta;
    std::function<ArrayOfProcessoVO(const PageCall&)> historicos;
    std::function<ArrayOfAvisoVO(const PageCall&)> avisos;
    std::vector<LoginCall> logins;
    std::vector<std::string> logouts;
    std::vector<std::string> escopos;  // session ids
    std::vector<BatchCall> cadastras, descadastras, consultas;
    std::vector<PageCall> historicoPages, avisoPages;
  };
  explicit ScriptedService(std::shared_ptr<Script> script) : s_(std::move(script)) {}

  std::string login(const std::string& credencial, Origem, const std::string& anterior,
                    const std::string& maquina, const std::string& versao) override {
    s_->logins.push_back({credencial, anterior, maquina, versao});
    return s_->login();
  }
  AvisoLogoutVO logout(const std::string& sessionId) override {
    s_->logouts.push_back(sessionId);
    return s_->logout();
  }
  ArrayOfAvisoVO avisosN(const std::string& sessionId, std::int64_t aPartir,
                         std::int64_t limite) override {
    s_->avisoPages.push_back({sessionId, aPartir, limite, 0});
    return Call(s_->avisos, s_->avisoPages.back());
  }
  ArrayOfAvisoVO descadastraN(const std::string& sessionId,
                              const ArrayOfProcessoVO& processos) override {
    s_->descadastras.push_back({sessionId, processos});
    return Call(s_->descadastra, processos);
  }
  ArrayOfProcessoVO historicosN(const std::string& sessionId, std::int64_t aPartir,
                                std::int64_t limite, std::int64_t offset) override {
    s_->historicoPages.push_back({sessionId, aPartir, limite, offset});
    return Call(s_->historicos, s_->historicoPages.back());
  }
  ArrayOfEscopoVO escopoN(const std::string& sessionId) override {
    s_->escopos.push_back(sessionId);
    return s_->escopo();
  }
  ArrayOfProcessoVO consultaN(const std::string& sessionId,
                              const ArrayOfProcessoVO& processos) override {
    s_->consultas.push_back({sessionId, processos});
    return Call(s_->consulta, processos);
  }
  ArrayOfAvisoVO cadastraN(const std::string& sessionId,
                           const ArrayOfProcessoVO& processos) override {
    s_->cadastras.push_back({sessionId, processos});
    return Call(s_->cadastra, processos);
  }

 private:
  template <typename F, typename A>
  static auto Call(const F& f, const A& arg) -> decltype(f(arg)) {
    if (!f)
      throw Error("not scripted");
    return f(arg);
  }
  std::shared_ptr<Script> s_;
};

// A main window whose workflow steps are scripted. A test of a step itself
// calls it qualified (form.TfrmAtualizaPush::btnEscopoClick()).
class TestForm : public TfrmAtualizaPush {
 public:
  using TfrmAtualizaPush::TfrmAtualizaPush;
  std::function<void()> escopo, cadastra, historicos, descadastra, avisos, resinc;
  std::function<void()> duplicados, busca;
  std::vector<std::string> steps;

  void btnEscopoClick() override { Step("escopo", escopo); }
  void btnCadastraClick() override { Step("cadastra", cadastra); }
  void btnHistoricosClick() override { Step("historicos", historicos); }
  void btnDescadastraClick() override { Step("descadastra", descadastra); }
  void btnAvisosClick() override { Step("avisos", avisos); }
  void Resincroniza() override { Step("resinc", resinc); }
  void ProcuraDuplicados() override { Step("duplicados", duplicados); }
  void BuscaParaCadastrar() override { Step("busca", busca); }

 private:
  void Step(const char* name, const std::function<void()>& f) {
    steps.push_back(name);
    if (f)
      f();
  }
};

inline void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A host installation in a temporary folder, with the registry stand-in and
// the local data folder inside it too.
class HostFolder : public ::testing::Test {
 public:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    for (char& c : name)
      if (c == '/')
        c = '_';
    root_ = fs::temp_directory_path() / ("app-" + std::to_string(::getpid()) + "-" + name);
    fs::remove_all(root_);
    dir_ = root_ / "host";
    fs::create_directories(dir_ / "dados");
    ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
    WriteFile(dir_ / "Causarium.exe", "");
    MakeTables(true);
    WriteFile(dir_ / "orgaos.xml", "<orgaos><orgao id=\"k26\" nomeReduzido=\"TJSP\"/></orgaos>");
    WriteIni("ana", "segredo");
  }
  void TearDown() override {
    form_.reset();
    realBinding_ = false;
    desktop_ = RecorderDesktop();
    service_ = std::make_shared<ServiceBox>();
    log_.reset();
    fs::remove_all(root_);
  }

  // Empty case, folder and appointment tables, each with its index.
  void MakeTables(bool withEstadoPush) {
    const fs::path dados = dir_ / "dados";
    for (const char* name : {"PROCESSO", "PASTA", "AGENDA"})
      for (const char* ext : {".DBF", ".CDX"})
        fs::remove(dados / (std::string(name) + ext));
    xbase::TableSchema processo;
    processo.fields = {{"CODPASTA", 'N', 4}, {"CODTRIB", 'N', 4}, {"CHAVEPROC", 'C', 100}};
    if (withEstadoPush)
      processo.fields.push_back({"ESTADOPUSH", 'C', 1});
    processo.tags = {{"PRIMARYKEY", "STR(CODPASTA,4)+STR(CODTRIB,4)+UPPER(CHAVEPROC)", ""}};
    xbase::CreateTable(dados, "PROCESSO", processo);
    xbase::TableSchema pasta;
    pasta.fields = {{"CODPASTA", 'N', 4}, {"NOME", 'C', 40}};
    pasta.tags = {{"PRIMARYKEY", "STR(CODPASTA,4)", ""}};
    xbase::CreateTable(dados, "PASTA", pasta);
    xbase::TableSchema agenda;
    agenda.fields = {{"CODAGENDA", 'N', 8}, {"DATA", 'D', 8}};
    agenda.tags = {{"PRIMARYKEY", "STR(CODAGENDA,8)", ""}};
    xbase::CreateTable(dados, "AGENDA", agenda);
  }

  void WriteIni(const std::string& user, const std::string& password,
                const std::string& extra = "") {
    std::string ini = "[GLOBAL]\r\n";
    if (!user.empty())
      ini += "X01YlOQZ0VOPSPAOT0K0=" + Scramble(user) + "\r\n";
    if (!password.empty())
      ini += "X01YlOQZOV0PSPA0TOKO=" + Scramble(password) + "\r\n";
    WriteFile(dir_ / "causarium.ini", ini + extra);
  }

  TestForm& MakeForm(std::vector<std::string> args = {}) {
    log_ = std::make_unique<THotLog>(std::make_shared<FixedClock>(LocalTime{2026, 4, 2, 9, 0, 0}));
    FormEnvironment env;
    env.args = std::move(args);
    env.exePath = (dir_ / "VuzaZoz").string();
    env.log = log_.get();
    if (!realBinding_) {
      env.makeService = [s = service_](const std::string& address, SoapTransport&) {
        s->addresses.push_back(address);
        return std::make_unique<ScriptedService>(s->script);
      };
    }
    form_ = std::make_unique<TestForm>(desktop_, std::move(env));
    return *form_;
  }

  // The pane's lines, error lines marked with "*".
  std::vector<std::string> Pane() const {
    std::vector<std::string> lines;
    for (const LogLine& l : form_->mInfo.Lines())
      lines.push_back((l.color == Color::Red ? "*" : "") + l.text);
    return lines;
  }

  // Every line of the log file so far (stops the log).
  std::string LogFile() {
    log_->Stop();
    return text::FromCp1252(ReadFile(dir_ / "dados" / "LogCau.log"));
  }

  struct ServiceBox {
    std::shared_ptr<ScriptedService::Script> script = std::make_shared<ScriptedService::Script>();
    std::vector<std::string> addresses;
  };

  fs::path root_, dir_;
  bool realBinding_ = false;
  RecorderDesktop desktop_;
  std::shared_ptr<ServiceBox> service_ = std::make_shared<ServiceBox>();
  std::unique_ptr<THotLog> log_;
  std::unique_ptr<TestForm> form_;
};

}  // namespace cau::testing
