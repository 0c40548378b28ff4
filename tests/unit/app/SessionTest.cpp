#include "AppFixture.h"
#include "config/Utils.h"

namespace cau::testing {
namespace {

using StartUp = TfrmAtualizaPush::StartUp;

class SessionTest : public HostFolder {
 protected:
  TestForm& Ready() {
    TestForm& form = MakeForm();
    EXPECT_EQ(form.FormCreate(), StartUp::Ready);
    return form;
  }
  std::string LastLine() const { return Pane().back(); }
};

TEST_F(SessionTest, FirstLoginSendsNoPreviousIdAndStoresTheNewOne) {
  TestForm& form = Ready();
  service_->script->login = [] { return std::string("ABC-1"); };
  form.Login("ana", "segredo");
  ASSERT_EQ(service_->script->logins.size(), 1u);
  const LoginCall& first = service_->script->logins[0];
  EXPECT_EQ(first.credencial, "ana/segredo");
  EXPECT_EQ(first.anterior, "");
  EXPECT_EQ(first.versao, ExeVersion());
  EXPECT_EQ(first.maquina, form.DescricaoMaquina());
  EXPECT_EQ(form.IdSessao, "ABC-1");
  EXPECT_EQ(form.Config->GetIdSessaoPush(), "ABC-1");
  EXPECT_EQ(LastLine(), ">Login: ana");
  EXPECT_FALSE(form.Cancelado);

  service_->script->login = [] { return std::string("ABC-2"); };
  form.Login("ana", "segredo");
  EXPECT_EQ(service_->script->logins[1].anterior, "ABC-1");
  EXPECT_EQ(TConfig(form.AppDir).GetIdSessaoPush(), "ABC-2");
  EXPECT_NE(LogFile().find("2026-04-02 09:00:00 [PUSH] Login ABC-2\r\n"), std::string::npos);
}

TEST_F(SessionTest, FailedLoginKeepsTheOldSessionAndCancels) {
  struct Case {
    std::function<std::string()> login;
    std::string line;
  };
  const Case cases[] = {
      {[]() -> std::string { throw SoapFault("Usuário bloqueado", "soap:Server", "", ""); },
       "*Erro: [Login] Usuário bloqueado"},
      {[]() -> std::string { throw BadResponse("Resposta inválida do servidor"); },
       "*Erro: [Login] Resposta inválida do servidor"},
      {[]() -> std::string { throw TransportError("Couldn't connect to server"); },
       "*Erro de conexão com o servidor. Verifique se o acesso a internet está funcionando e "
       "configurado corretamente.\r\nCouldn't connect to server"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    TearDown();
    SetUp();
    WriteIni("ana", "segredo", "IDSESSAOPUSH=OLD\r\n");
    TestForm& form = Ready();
    service_->script->login = c.login;
    form.Login("ana", "segredo");
    EXPECT_EQ(LastLine(), c.line);
    EXPECT_TRUE(form.Cancelado);
    EXPECT_EQ(form.IdSessao, "");
    EXPECT_EQ(form.Config->GetIdSessaoPush(), "OLD");
  }
}

TEST_F(SessionTest, LogoutStoresAndShowsTheCounters) {
  WriteFile(dir_ / "dados" / "cauPush.cfg",
            "[CAUPUSH]\r\nmaxProcs=40\r\nmaxProcsAnt=30\r\natualizadoEm=2026-03-31 23:59:59\r\n");
  TestForm& form = Ready();
  form.Login("ana", "segredo");
  service_->script->logout = [] { return AvisoLogoutVO{"2026-04-01 08:15:00.25", 12, 15}; };
  form.Logout();
  EXPECT_EQ(service_->script->logouts, std::vector<std::string>{"S1"});
  EXPECT_EQ(LastLine(), "< Logout");
  // March to April: the month's maximum becomes the previous month's.
  EXPECT_EQ(form.PushCfg->GetMaxProcsAnt(), 40);
  EXPECT_EQ(form.PushCfg->GetMaxProcs(), 15);
  EXPECT_EQ(form.PushCfg->GetProcsAtual(), 12);
  EXPECT_EQ(form.PushCfg->GetAtualizadoEm(), "2026-04-01 08:15:00.25");
  EXPECT_EQ(form.lbMaxProcsAnt.Caption(), "40");
  EXPECT_EQ(form.lbMaxProcs.Caption(), "15");
  EXPECT_EQ(form.lbProcs.Caption(), "12");
  EXPECT_EQ(form.gbSituacao.Caption(), "Situação em   01/04/2026 08:15:00");
  const std::string file = LogFile();
  const std::string expected =
      "2026-04-02 09:00:00 [PUSH] < Logout\r\n"
      "2026-04-02 09:00:00 [PUSH] Logout S1\r\n"
      "2026-04-02 09:00:00 [PUSH] <> numProcs: 12\r\n"
      "2026-04-02 09:00:00 [PUSH] <> numProcs no Mês: 15\r\n"
      "2026-04-02 09:00:00 [PUSH] <> atualizado em 2026-04-01 08:15:00.25\r\n";
  EXPECT_NE(file.find(expected), std::string::npos) << file;
  // The session id stays after the logout; a second logout sends it again.
  form.Logout();
  EXPECT_EQ(service_->script->logouts, (std::vector<std::string>{"S1", "S1"}));
}

TEST_F(SessionTest, MonthTurnover) {
  struct Case {
    const char* name;
    std::string stored;  // atualizadoEm line, or nothing
    std::string received;
    std::int64_t maxProcsAnt;
    std::string caption;
  };
  const Case cases[] = {
      {"same month", "atualizadoEm=2026-04-01 10:00:00\r\n", "2026-04-20 10:00:00", 30,
       "Situação em   20/04/2026 10:00:00"},
      {"nothing stored counts as December", "", "2026-04-20 10:00:00", 40,
       "Situação em   20/04/2026 10:00:00"},
      {"unreadable stamp counts as 30/12/1899", "atualizadoEm=2026-04-01 10:00:00\r\n", "amanhã",
       40, "Situação em   30/12/1899"},
      // Comparing the years too: a year apart is another month.
      {"same month of another year", "atualizadoEm=2025-04-01 10:00:00\r\n", "2026-04-20 10:00:00",
       40, "Situação em   20/04/2026 10:00:00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    WriteFile(dir_ / "dados" / "cauPush.cfg",
              "[CAUPUSH]\r\nmaxProcs=40\r\nmaxProcsAnt=30\r\n" + c.stored);
    TestForm& form = Ready();
    form.MostraContadores(AvisoLogoutVO{c.received, 1, 2});
    EXPECT_EQ(form.PushCfg->GetMaxProcsAnt(), c.maxProcsAnt);
    EXPECT_EQ(form.lbMaxProcsAnt.Caption(), std::to_string(c.maxProcsAnt));
    EXPECT_EQ(form.PushCfg->GetAtualizadoEm(), c.received);
    EXPECT_EQ(form.gbSituacao.Caption(), c.caption);
  }
}

TEST_F(SessionTest, LogoutFailures) {
  TestForm& form = Ready();
  form.Logout();  // no session: nothing is sent
  EXPECT_EQ(LastLine(), "*Não foi possível abrir uma sessão com o servidor.");
  EXPECT_TRUE(service_->script->logouts.empty());

  form.Login("ana", "segredo");
  service_->script->logout = []() -> AvisoLogoutVO {
    throw SoapFault("Sessão expirada", "", "", "");
  };
  form.Logout();
  EXPECT_EQ(LastLine(), "*Erro no logout. Sessão expirada");
  EXPECT_FALSE(form.Cancelado);  // a failed logout does not cancel
}

TEST_F(SessionTest, MachineDescriptionHasSixPairsInOrder) {
  TestForm& form = Ready();
  const std::string d = form.DescricaoMaquina();
  EXPECT_TRUE(d.starts_with("AppDir=" + (dir_ / "VuzaZoz").string() + ";CompNome="));
  std::vector<std::string> keys;
  std::size_t start = 0;
  while (start <= d.size()) {
    const std::size_t end = std::min(d.find(';', start), d.size());
    keys.push_back(d.substr(start, d.find('=', start) - start));
    start = end + 1;
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"AppDir", "CompNome", "WinVer", "WinDono", "WinEmpresa",
                                            "HdSerial"}));
  EXPECT_NE(d.back(), ';');
}

}  // namespace
}  // namespace cau::testing
