#include "AppFixture.h"
#include "BuildInfo.h"
#include "config/Utils.h"
#include "db/TravaBanco.h"
#include "support/Process.h"

namespace cau::testing {
namespace {

using StartUp = TfrmAtualizaPush::StartUp;

class StartUpTest : public HostFolder {};

struct Failure {
  const char* name;
  std::function<void(StartUpTest&)> arrange;
  StartUp outcome;
  std::string text;  // the box's text (end) or the red line (stop)
  std::string caption;
  MsgIcon icon;
};

TEST_F(StartUpTest, EachFailureEndsOrStopsWithItsWords) {
  const std::string atencao = "Atenção";
  const Failure failures[] = {
      {"no host executable", [](StartUpTest& t) { fs::remove(t.dir_ / "Causarium.exe"); },
       StartUp::Ended, "Causarium não foi encontrado.", atencao, MsgIcon::Error},
      {"no index file, before the court list",
       [](StartUpTest& t) {
         fs::remove(t.dir_ / "dados" / "PROCESSO.CDX");
         fs::remove(t.dir_ / "orgaos.xml");
       },
       StartUp::Ended,
       "Erro ao abrir tabelas do banco. Antes de tentar novamente, execute uma vez o Causarium "
       "para recriar os índices da tabela.",
       atencao, MsgIcon::Error},
      {"bad court list", [](StartUpTest& t) { WriteFile(t.dir_ / "orgaos.xml", "<orgaos><x>"); },
       StartUp::Ended, "Erro abrindo arquivo de Orgaos. ", "Push Causarium", MsgIcon::Error},
      {"log file cannot be made",
       [](StartUpTest& t) { fs::create_directories(t.dir_ / "dados" / "LogCau.log"); },
       StartUp::Ended, "Erro criando o arquivo de Log", "Erro", MsgIcon::Error},
      {"empty user", [](StartUpTest& t) { t.WriteIni("", "segredo"); }, StartUp::Ended,
       "Para utilizar o Atualizador Push, \r\né necessário preencher \"Usuário\" e \"Senha\" na "
       "configuração do Causarium",
       atencao, MsgIcon::Warning},
      {"empty password", [](StartUpTest& t) { t.WriteIni("ana", ""); }, StartUp::Ended,
       "Para utilizar o Atualizador Push, \r\né necessário preencher \"Usuário\" e \"Senha\" na "
       "configuração do Causarium",
       atencao, MsgIcon::Warning},
      {"case table", [](StartUpTest& t) { fs::remove(t.dir_ / "dados" / "PROCESSO.DBF"); },
       StartUp::Ended,
       "Não foi possível abrir o Banco de dados. Feche o Causarium e tente novamente", atencao,
       MsgIcon::Warning},
      {"folder table", [](StartUpTest& t) { fs::remove(t.dir_ / "dados" / "PASTA.DBF"); },
       StartUp::Stopped, "Não foi possível abrir o Banco de dados. (Pastas)", "", MsgIcon::None},
      {"appointment table", [](StartUpTest& t) { fs::remove(t.dir_ / "dados" / "AGENDA.DBF"); },
       StartUp::Stopped, "Não foi possível abrir o Banco de dados. (Agenda de Compromissos)", "",
       MsgIcon::None},
      {"no push-state field", [](StartUpTest& t) { t.MakeTables(false); }, StartUp::Stopped,
       "A versão instalada do Causarium é incompatível com este aplicativo.\r\nPor favor "
       "atualize a versão do Causarium em " CAU_SITE_URL,
       "", MsgIcon::None},
      {"address the binding refuses", [](StartUpTest& t) { t.realBinding_ = true; },
       StartUp::Stopped, "Endereço do serviço inválido", "", MsgIcon::None},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(f.name);
    TearDown();
    SetUp();
    f.arrange(*this);
    TestForm& form = MakeForm({"-URL", "ftp://h/x"});  // only the real binding minds
    const StartUp outcome = form.FormCreate();
    EXPECT_EQ(outcome, f.outcome);
    if (f.outcome == StartUp::Ended) {
      ASSERT_EQ(desktop_.boxes.size(), 1u);
      EXPECT_EQ(desktop_.boxes[0].text.substr(0, f.text.size()), f.text);
      EXPECT_EQ(desktop_.boxes[0].caption, f.caption);
      EXPECT_EQ(desktop_.boxes[0].icon, f.icon);
      if (std::string(f.name).starts_with("empty")) {
        EXPECT_TRUE(form.mInfo.Lines().empty());
      }
    } else {
      EXPECT_TRUE(desktop_.boxes.empty());
      EXPECT_TRUE(form.Cancelado);
      ASSERT_FALSE(Pane().empty());
      EXPECT_EQ(Pane().back().substr(0, f.text.size() + 1), "*" + f.text);
      // The rest of the sequence was skipped: the counters keep their
      // placeholders, and the window shows with Conectar disabled.
      EXPECT_EQ(form.lbProcs.Caption(), "000");
      EXPECT_EQ(form.lbMaxProcs.Caption(), "0000");
      EXPECT_EQ(form.lbMaxProcsAnt.Caption(), "00000");
      form.FormShow();
      EXPECT_FALSE(form.btnIniciar.Enabled());
      EXPECT_EQ(form.Run(), TfrmAtualizaPush::RunState::Idle);
    }
  }
}

TEST_F(StartUpTest, SecondCopyEndsWithTheLockMessage) {
  test::LockHolder other(dir_ / "dados" / "lock", test::LockHolder::Mode::Write);
  ASSERT_TRUE(other.Holding());
  TestForm& form = MakeForm();
  EXPECT_EQ(form.FormCreate(), StartUp::Ended);
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_FALSE(desktop_.boxes[0].text.empty());
  EXPECT_EQ(desktop_.boxes[0].caption, "Atenção");
  EXPECT_EQ(desktop_.boxes[0].icon, MsgIcon::Warning);
}

TEST_F(StartUpTest, ReadyWindowShowsUserCountersAndStamp) {
  WriteFile(dir_ / "dados" / "cauPush.cfg",
            "[CAUPUSH]\r\nlastIdAviso=12\r\nlastIdHistorico=345\r\nprocsAtual=7\r\n"
            "maxProcs=9\r\nmaxProcsAnt=11\r\natualizadoEm=2026-03-05 14:07:09.123\r\n");
  TestForm& form = MakeForm({"-url", "http://127.0.0.1:1/x", "-debug"});
  ASSERT_EQ(form.FormCreate(), StartUp::Ready);
  EXPECT_FALSE(form.Cancelado);
  EXPECT_TRUE(form.ModoDebug);
  EXPECT_EQ(form.Window.Caption(), "PUSH CAU - Atualizador de Processos via PUSH [DEBUG]");
  EXPECT_TRUE(form.btnLogin.Visible());
  EXPECT_TRUE(form.btnAvisos.Visible());
  EXPECT_EQ(service_->addresses, std::vector<std::string>{"http://127.0.0.1:1/x"});
  EXPECT_EQ(form.AppDir, dir_.string() + "/");
  EXPECT_EQ(form.Usuario, "ana");
  EXPECT_EQ(form.Senha, "segredo");
  EXPECT_EQ(form.lbTitulo.Caption(), "ana");
  ASSERT_TRUE(form.ProcessoDao && form.PastaDao && form.AgendaDao);
  EXPECT_TRUE(form.ProcessoDao->Opened() && form.PastaDao->Opened() && form.AgendaDao->Opened());
  ASSERT_TRUE(form.ListaCadastrar && form.ListaDescadastrar);
  EXPECT_TRUE(form.ListaCadastrar->empty());
  const auto lines = Pane();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].starts_with(">>Inicializando [DEBUG] "));
  EXPECT_EQ(lines[1], "> a12 h345");
  EXPECT_EQ(form.gbSituacao.Caption(), "Situação em   05/03/2026 14:07:09");
  EXPECT_EQ(form.lbProcs.Caption(), "7");
  EXPECT_EQ(form.lbMaxProcs.Caption(), "9");
  EXPECT_EQ(form.lbMaxProcsAnt.Caption(), "11");

  // In debug mode the window shows without starting, also with -AUTOSTART.
  form.FormShow();
  EXPECT_FALSE(form.btnIniciar.Visible());
  EXPECT_EQ(form.Run(), TfrmAtualizaPush::RunState::Idle);
  EXPECT_EQ(desktop_.updateChecks.size(), 1u);
}

TEST_F(StartUpTest, SituationCaptionFromTheStoredStamp) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "Situação"},
      {"atualizadoEm=ontem\r\n", "Situação"},
      {"atualizadoEm=2026-03-05 00:00:00\r\n", "Situação em   05/03/2026"},
      {"atualizadoEm=2026-03-05\r\n", "Situação em   05/03/2026"},
  };
  for (auto [stored, caption] : cases) {
    SCOPED_TRACE(stored);
    TearDown();
    SetUp();
    WriteFile(dir_ / "dados" / "cauPush.cfg", std::string("[CAUPUSH]\r\n") + stored);
    TestForm& form = MakeForm();
    ASSERT_EQ(form.FormCreate(), StartUp::Ready);
    EXPECT_EQ(form.gbSituacao.Caption(), caption);
  }
}

TEST_F(StartUpTest, DestroyReleasesEverythingAndLogsTheEnd) {
  TestForm& form = MakeForm();
  ASSERT_EQ(form.FormCreate(), StartUp::Ready);
  form.FormDestroy();
  EXPECT_EQ(Pane().back(), "<< Encerrando");
  EXPECT_FALSE(form.Servico || form.ProcessoDao || form.PastaDao || form.AgendaDao ||
               form.PushCfg || form.Config || form.ListaCadastrar || form.ListaDescadastrar);
  EXPECT_FALSE(form.Trava.Held());
  // The lock is free for the next copy.
  DatabaseLock lock;
  std::string message;
  EXPECT_TRUE(TravaBanco(dir_.string() + "/", lock, message));
  EXPECT_NE(LogFile().find("[PUSH] << Encerrando\r\n"), std::string::npos);
}

TEST_F(StartUpTest, MenusAndNoticeButton) {
  desktop_.notices = 3;
  TestForm& form = MakeForm();
  ASSERT_EQ(form.FormCreate(), StartUp::Ready);
  form.FormShow();
  EXPECT_TRUE(form.btnIniciar.Visible());
  EXPECT_EQ(form.mInfo.Background(), Color::White);
  EXPECT_TRUE(form.btnMsg.Visible());
  EXPECT_EQ(form.btnMsg.Caption(), "3");
  ASSERT_EQ(desktop_.updateChecks.size(), 1u);
  EXPECT_EQ(desktop_.updateChecks[0],
            std::string(CAU_UPDATE_URL) + "/checaversao.php?origem=VUZAZOZ&versao=" + ExeVersion());

  desktop_.notices = 1;
  form.btnMsgClick();
  EXPECT_EQ(desktop_.noticesShown, 1);
  EXPECT_EQ(form.btnMsg.Caption(), "1");

  form.itmSuporteClick();
  EXPECT_EQ(desktop_.opened, std::vector<std::string>{std::string(CAU_SITE_URL) + "/contato.html"});
  form.Sobre1Click();
  ASSERT_EQ(desktop_.html.size(), 1u);
  EXPECT_TRUE(desktop_.html[0].starts_with("<h3>Push Causarium v." + ExeVersion() + "</h3>"));
  EXPECT_NE(desktop_.html[0].find(">VEXO Informática</a>"), std::string::npos);
  EXPECT_NE(desktop_.html[0].find("/tutpush\">Tutorial</a>"), std::string::npos);

  // Resynchronisation only on Yes.
  desktop_.answers = {MsgAnswer::No, MsgAnswer::Cancel, MsgAnswer::Yes};
  form.itmResincClick();
  form.itmResincClick();
  EXPECT_TRUE(form.steps.empty());
  form.itmResincClick();
  EXPECT_EQ(form.steps, std::vector<std::string>{"resinc"});
  EXPECT_EQ(desktop_.boxes.back().buttons, MsgButtons::YesNoCancel);
  EXPECT_EQ(desktop_.boxes.back().icon, MsgIcon::Question);

  form.itmSairClick();
  EXPECT_TRUE(form.Cancelado);
  EXPECT_TRUE(desktop_.closed);
}

}  // namespace
}  // namespace cau::testing
