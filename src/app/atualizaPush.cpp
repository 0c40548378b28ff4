#include "app/atualizaPush.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

#include "BuildInfo.h"
#include "app/CommandLine.h"
#include "config/Errors.h"
#include "config/Utils.h"
#include "log/HotLog.h"

namespace cau {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kAtencao = "Atenção";

std::string ProgramFolder(const std::string& exePath) {
  std::string dir = fs::path(exePath).parent_path().string();
  if (dir.empty() || dir.back() != '/')
    dir += '/';
  return dir;
}

}  // namespace

std::string RegionalDateTime(const LocalTime& t) {
  char text[40];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d", t.day, t.month, t.year);
  std::string result = text;
  if (t.hour != 0 || t.minute != 0 || t.second != 0) {
    std::snprintf(text, sizeof text, " %02d:%02d:%02d", t.hour, t.minute, t.second);
    result += text;
  }
  return result;
}

std::string UpdateServer() {
  const char* server = std::getenv("CAU_UPDATE_SERVER");
  return server && *server ? std::string(server) : std::string(CAU_UPDATE_URL);
}

std::string UpdateCheckAddress() {
  return UpdateServer() + "/checaversao.php?origem=VUZAZOZ&versao=" + ExeVersion();
}

namespace {

// A positive decimal number from the environment; 0 when absent or not one.
std::uint64_t PositiveFromEnv(const char* name) {
  const char* text = std::getenv(name);
  if (!text || !*text)
    return 0;
  std::uint64_t value = 0;
  const char* end = text + std::strlen(text);
  const auto [stop, ec] = std::from_chars(text, end, value);
  return ec == std::errc() && stop == end ? value : 0;
}

}  // namespace

std::chrono::milliseconds ReceiveTimeoutSetting() {
  const std::uint64_t ms = PositiveFromEnv("CAU_RECEIVE_TIMEOUT_MS");
  return ms > 0 && ms <= std::uint64_t(HttpTransport::kReceiveTimeout.count())
             ? std::chrono::milliseconds(ms)
             : HttpTransport::kReceiveTimeout;
}

std::size_t ResponseCapSetting() {
  const std::uint64_t bytes = PositiveFromEnv("CAU_RESPONSE_CAP_BYTES");
  return bytes > 0 && bytes <= HttpTransport::kDefaultResponseCap
             ? std::size_t(bytes)
             : HttpTransport::kDefaultResponseCap;
}

int ExitStatus(TfrmAtualizaPush::StartUp startUp, TfrmAtualizaPush::RunState run) {
  if (startUp == TfrmAtualizaPush::StartUp::Ended)
    return 2;
  return run == TfrmAtualizaPush::RunState::Complete ? 0 : 1;
}

TfrmAtualizaPush::TfrmAtualizaPush(Desktop& desktop, FormEnvironment environment)
    : desktop_(desktop),
      env_(std::move(environment)),
      clock_(env_.clock ? env_.clock : std::make_shared<SystemClock>()) {
  Label1.SetSmallFont(true);
  lbTitulo.SetSmallFont(true);
  lbOperacao.SetAlignment(Alignment::Right);
  pgbTotal.SetFontColor(Color::SkyBlue);
  mInfo.SetBackground(Color::Light3D);
  for (TLabel* value : {&lbProcs, &lbMaxProcs, &lbMaxProcsAnt})
    value->SetBold(true);
  for (auto [label, hint] :
       {std::pair{&lbProcs, "Número de processos cadastrados atualmente"},
        std::pair{&lbMaxProcs, "Número máximo de processos cadastrados no mês"},
        std::pair{&lbMaxProcsAnt, "Número máximo de processos cadastrados no mês anterior"}}) {
    label->SetHint(hint);
    (label == &lbProcs ? Label2 : label == &lbMaxProcs ? Label3 : Label4).SetHint(hint);
  }
  for (TButton* debug : {&btnLogin, &btnEscopo, &btnCadastra, &btnHistoricos, &btnDescadastra,
                         &btnAvisos, &btnLogout})
    debug->SetVisible(false);
  btnMsg.SetVisible(false);
}

TfrmAtualizaPush::~TfrmAtualizaPush() {
  if (!destroyed_) {
    try {
      FormDestroy();
    } catch (...) {
      // Nothing may leave a destructor; FormDestroy itself swallows failures.
    }
  }
}

std::vector<Control*> TfrmAtualizaPush::Controls() {
  return {&Window,         &Label1,    &lbTitulo,      &lbOperacao,
          &lbRede,         &pgbTotal,  &ProgressBar1,  &lbStatus,
          &btnLogin,       &btnEscopo, &btnCadastra,   &btnHistoricos,
          &btnDescadastra, &btnAvisos, &btnLogout,     &mInfo,
          &gbSituacao,     &Label2,    &lbProcs,       &Label3,
          &lbMaxProcs,     &Label4,    &lbMaxProcsAnt, &btnMsg,
          &btnIniciar,     &btnFim,    &Image1,        &Opcoes1,
          &itmResinc,      &itmSair,   &Ajuda1,        &Verificaatualizao1,
          &itmSuporte,     &Sobre1};
}

void TfrmAtualizaPush::SetObserver(ControlObserver* observer) {
  for (Control* control : Controls())
    control->SetObserver(observer);
}

THotLog& TfrmAtualizaPush::Log() {
  return env_.log ? *env_.log : AppLog();
}

// ---- Log and status ----

void TfrmAtualizaPush::AddLog(std::string_view text) {
  mInfo.Append(std::string(text), Color::WindowText);
  Log().AddLine("{now}[PUSH] " + std::string(text));
}

void TfrmAtualizaPush::AddErro(std::string_view text) {
  mInfo.Append(std::string(text), Color::Red);
  Log().AddLine("{now}[PUSH][*] " + std::string(text));
}

void TfrmAtualizaPush::FileLog(std::string_view text) {
  Log().AddLine("{now}[PUSH] " + std::string(text));
}

void TfrmAtualizaPush::SetStatus(std::string_view text) {
  ProgressBar1.SetPosition(0);
  lbStatus.SetCaption(text);
  desktop_.RepaintNow(lbStatus);
}

// ---- Start-up ----

void TfrmAtualizaPush::EndWith(std::string_view text, std::string_view caption, MsgIcon icon) {
  desktop_.MessageBox(std::string(text), std::string(caption), icon, MsgButtons::Ok);
}

void TfrmAtualizaPush::StopWith(std::string_view text) {
  AddErro(text);
  Cancelado = true;
}

TfrmAtualizaPush::StartUp TfrmAtualizaPush::FormCreate() {
  try {
    return StartUpSequence();
  } catch (const std::exception& e) {
    // A host file that cannot be read or written: say which and end.
    EndWith(e.what(), kAtencao, MsgIcon::Error);
    return StartUp::Ended;
  }
}

TfrmAtualizaPush::StartUp TfrmAtualizaPush::StartUpSequence() {
  Cancelado = ModoDebug = AutoStart = SemProxy = false;
  IdSessao.clear();
  UrlServico.clear();
  QtdCadastrados = 0;

  const CommandLine line = ParseCommandLine(env_.args);
  if (line.debug) {
    Window.SetCaption(std::string(kCaption) + " [DEBUG]");
    ModoDebug = true;
    for (TButton* debug : {&btnCadastra, &btnEscopo, &btnHistoricos, &btnDescadastra, &btnAvisos,
                           &btnLogin, &btnLogout})
      debug->SetVisible(true);
  }
  UrlServico = line.url;
  SemProxy = line.semProxy;
  AutoStart = line.autoStart;

  AppDir = ProgramFolder(env_.exePath);

  std::error_code ec;
  if (!fs::exists(AppDir + "Causarium.exe", ec)) {
    EndWith("Causarium não foi encontrado.", kAtencao, MsgIcon::Error);
    return StartUp::Ended;
  }

  std::string lockMessage;
  if (!TravaBanco(AppDir, Trava, lockMessage)) {
    if (!lockMessage.empty())
      EndWith(lockMessage, kAtencao, MsgIcon::Warning);
    return StartUp::Ended;
  }

  if (!fs::exists(AppDir + "dados/PROCESSO.CDX", ec)) {
    EndWith(
        "Erro ao abrir tabelas do banco. Antes de tentar novamente, execute uma vez o Causarium "
        "para recriar os índices da tabela.",
        kAtencao, MsgIcon::Error);
    return StartUp::Ended;
  }

  const pugi::xml_parse_result loaded = OrgaosXML.load_file((AppDir + "orgaos.xml").c_str());
  if (!loaded) {
    EndWith("Erro abrindo arquivo de Orgaos. " + std::string(loaded.description()),
            kApplicationTitle, MsgIcon::Error);
    return StartUp::Ended;
  }

  try {
    THotLog& log = Log();
    log.FileDef().SetFileName("LogCau.log");
    log.FileDef().SetFolder(AppDir + "dados/");
    log.FileDef().SetAppendMode(true);
    log.Start();
  } catch (const Error&) {
    EndWith(kLogCreateError, "Erro", MsgIcon::Error);
    return StartUp::Ended;
  }

  Config = std::make_unique<TConfig>(AppDir);
  Usuario = Config->GetUsuario();
  Senha = Config->GetSenha();
  lbTitulo.SetCaption(Usuario);
  if (Usuario.empty() || Senha.empty()) {
    EndWith(
        "Para utilizar o Atualizador Push, \r\né necessário preencher \"Usuário\" e \"Senha\" "
        "na configuração do Causarium",
        kAtencao, MsgIcon::Warning);
    return StartUp::Ended;
  }

  AddLog((ModoDebug ? ">>Inicializando [DEBUG] " : ">>Inicializando ") + ExeVersion());

  transport_ = std::make_unique<HttpTransport>();
  transport_->SetReceiveTimeout(ReceiveTimeoutSetting());
  transport_->SetResponseCap(ResponseCapSetting());
  if (!SemProxy && !Config->GetProxy().empty() && Config->ProxyMode() > 1) {
    transport_->SetProxy({ProxySettings::Mode::Explicit, Config->GetProxy(),
                          Config->GetProxyUsuario(), Config->GetProxySenha()});
  }
  transport_->SetTrafficHook([this](Traffic) {
    lbRede.SetCaption(NextTrafficCaption(lbRede.Caption()));
    desktop_.RepaintNow(lbRede);
  });
  try {
    MakeService();
  } catch (const std::exception& e) {
    // An address the binding cannot use: the window stays for the log.
    StopWith(e.what());
    return StartUp::Stopped;
  }

  // A table is taken only when its records, memos and index agree: writing
  // through a stale index or over a damaged memo would lose the host's data.
  std::string why;
  ProcessoDao = std::make_unique<db::TProcessoDao>(AppDir, *clock_);
  if (!ProcessoDao->Opened() || !(why = ProcessoDao->CheckFiles()).empty()) {
    FileLog(why.empty() ? ProcessoDao->OpenError() : why);
    EndWith("Não foi possível abrir o Banco de dados. Feche o Causarium e tente novamente",
            kAtencao, MsgIcon::Warning);
    return StartUp::Ended;
  }
  PastaDao = std::make_unique<db::TPastaDao>(AppDir);
  if (!PastaDao->Opened() || !(why = PastaDao->CheckFiles()).empty()) {
    FileLog(why.empty() ? PastaDao->OpenError() : why);
    StopWith("Não foi possível abrir o Banco de dados. (Pastas)");
    return StartUp::Stopped;
  }
  AgendaDao = std::make_unique<db::TAgendaDao>(AppDir);
  if (!AgendaDao->Opened() || !(why = AgendaDao->CheckFiles()).empty()) {
    FileLog(why.empty() ? AgendaDao->OpenError() : why);
    StopWith("Não foi possível abrir o Banco de dados. (Agenda de Compromissos)");
    return StartUp::Stopped;
  }
  if (ProcessoDao->LacksEstadoPush()) {
    StopWith(
        "A versão instalada do Causarium é incompatível com este aplicativo.\r\nPor favor "
        "atualize a versão do Causarium em " +
        std::string(CAU_SITE_URL));
    return StartUp::Stopped;
  }
  ProcessoDao->First();
  AgendaDao->First();
  PastaDao->First();

  ListaCadastrar = std::make_unique<TStringList>();
  ListaDescadastrar = std::make_unique<TStringList>();

  PushCfg = std::make_unique<TcauPushCfg>(AppDir);
  AddLog("> a" + std::to_string(PushCfg->GetLastIdAviso()) + " h" +
         std::to_string(PushCfg->GetLastIdHistorico()));

  const auto updated = ParseServerStamp(PushCfg->GetAtualizadoEm());
  gbSituacao.SetCaption(updated ? "Situação em   " + RegionalDateTime(*updated) : "Situação");

  lbProcs.SetCaption(std::to_string(PushCfg->GetProcsAtual()));
  lbMaxProcsAnt.SetCaption(std::to_string(PushCfg->GetMaxProcsAnt()));
  lbMaxProcs.SetCaption(std::to_string(PushCfg->GetMaxProcs()));
  return StartUp::Ready;
}

void TfrmAtualizaPush::MakeService() {
  Servico = env_.makeService ? env_.makeService(UrlServico, *transport_)
                             : GetPushService(UrlServico, *transport_);
}

void TfrmAtualizaPush::FormShow() {
  if (ModoDebug) {
    btnIniciar.SetVisible(false);
  } else {
    if (Cancelado)
      btnIniciar.SetEnabled(false);
    mInfo.SetBackground(Color::White);
    if (AutoStart && !Cancelado)
      btnIniciarClick();
  }
  if (const int notices = desktop_.NoticeCount(); notices > 0) {
    btnMsg.SetCaption(std::to_string(notices));
    btnMsg.SetVisible(true);
  }
  Verificaatualizao1Click();
}

void TfrmAtualizaPush::FormClose() {
  Cancelado = true;
  desktop_.ProcessMessages();
}

void TfrmAtualizaPush::FormDestroy() {
  if (destroyed_)
    return;
  destroyed_ = true;
  AddLog("<< Encerrando");
  Servico.reset();
  transport_.reset();
  ProcessoDao.reset();
  PastaDao.reset();
  AgendaDao.reset();
  Trava.Release();
  ListaOrgaos.reset();
  ListaCadastrar.reset();
  ListaDescadastrar.reset();
  ListaEscopo.reset();
  PushCfg.reset();
  Config.reset();
}

// ---- Buttons and menus ----

void TfrmAtualizaPush::btnFimClick() {
  Cancelado = true;
  desktop_.ProcessMessages();
  desktop_.CloseMainWindow();
}

void TfrmAtualizaPush::itmSairClick() {
  btnFimClick();
}

void TfrmAtualizaPush::btnIniciarClick() {
  btnIniciar.SetVisible(false);
  mInfo.SetBackground(Color::Light3D);
  desktop_.ProcessMessages();
  ExecutaPassos();
}

void TfrmAtualizaPush::btnLoginClick() {
  Login(Usuario, Senha);
}

void TfrmAtualizaPush::btnLogoutClick() {
  Logout();
}

void TfrmAtualizaPush::itmResincClick() {
  const MsgAnswer answer = desktop_.MessageBox(
      "Todos os processos do Causarium serão resincronizados agora\r\npara garantir que estão "
      "devidamente cadastrados.\r\n Deseja continuar?",
      std::string(kAtencao), MsgIcon::Question, MsgButtons::YesNoCancel);
  if (answer == MsgAnswer::Yes)
    Guarded(&TfrmAtualizaPush::Resincroniza);
}

void TfrmAtualizaPush::Verificaatualizao1Click() {
  desktop_.CheckForUpdate(UpdateCheckAddress());
}

void TfrmAtualizaPush::itmSuporteClick() {
  desktop_.OpenInBrowser(std::string(CAU_SITE_URL) + "/contato.html");
}

void TfrmAtualizaPush::Sobre1Click() {
  const std::string site = CAU_SITE_URL;
  desktop_.ShowHtml("<h3>Push Causarium v." + ExeVersion() + "</h3>\r\n<a href=\"" + site +
                    "\">VEXO Informática</a>\r\n<p><a href=\"" + site +
                    "/tutpush\">Tutorial</a></p>");
}

void TfrmAtualizaPush::btnMsgClick() {
  desktop_.ShowNotices();
  btnMsg.SetCaption(std::to_string(desktop_.NoticeCount()));
}

// ---- The run ----

void TfrmAtualizaPush::Guarded(void (TfrmAtualizaPush::*step)()) {
  try {
    (this->*step)();
  } catch (const std::exception& e) {
    AddErro(e.what());
    Cancelado = true;
  } catch (...) {
    AddErro("Erro inesperado.");
    Cancelado = true;
  }
}

void TfrmAtualizaPush::ExecutaPassos() {
  runState_ = RunState::Running;
  desktop_.SetHourglass(true);
  desktop_.ProcessMessages();
  btnFim.SetCaption("Cancela");

  Guarded(&TfrmAtualizaPush::btnLoginClick);

  if (!Cancelado) {
    lbOperacao.SetCaption("1/5");
    Guarded(&TfrmAtualizaPush::btnEscopoClick);
  }
  if (!Cancelado) {
    lbOperacao.SetCaption("2/5");
    const std::size_t novos = ListaCadastrar ? ListaCadastrar->size() : 0;
    if (novos > 0) {
      if (AutoStart) {
        Guarded(&TfrmAtualizaPush::btnCadastraClick);
      } else {
        const std::string n = std::to_string(novos);
        const MsgAnswer answer =
            desktop_.MessageBox(n + " Processos serão cadastrados. Deseja continuar?",
                                std::string(kAtencao), MsgIcon::Question, MsgButtons::YesNo);
        if (answer == MsgAnswer::Yes)
          Guarded(&TfrmAtualizaPush::btnCadastraClick);
        else
          AddLog(n + " processos para cadastramento recusados pelo usuário.");
      }
    }
  }
  if (!Cancelado) {
    lbOperacao.SetCaption("3/5");
    Guarded(&TfrmAtualizaPush::btnHistoricosClick);
  }
  if (!Cancelado) {
    lbOperacao.SetCaption("4/5");
    Guarded(&TfrmAtualizaPush::btnDescadastraClick);
  }
  if (!Cancelado) {
    lbOperacao.SetCaption("5/5");
    Guarded(&TfrmAtualizaPush::btnAvisosClick);
  }

  countsFresh_ = false;
  Guarded(&TfrmAtualizaPush::btnLogoutClick);

  if (!Cancelado) {
    try {
      // Only a count this logout brought says the server lost cases: after
      // a failed logout procsAtual is an earlier run's (0 on the first).
      const bool requested = Config && Config->SyncPushRequested();
      const bool fewer = countsFresh_ && PushCfg && PushCfg->GetProcsAtual() < QtdCadastrados;
      if (requested || fewer) {
        AddLog("Necessário realizar a resincronização dos processos.");
        Guarded(&TfrmAtualizaPush::Resincroniza);
        if (Config)
          Config->ClearSyncPush();
      }
    } catch (const std::exception& e) {
      AddErro(e.what());
      Cancelado = true;
    }
  }

  ProgressBar1.SetPosition(ProgressBar1.Max());
  btnFim.SetCaption("Fim");
  if (Cancelado) {
    lbStatus.SetCaption("Operação Cancelada");
    lbOperacao.SetCaption("Cancelado");
    AddErro("Operação Cancelada.");
    runState_ = RunState::Cancelled;
  } else {
    lbStatus.SetCaption("Fim");
    lbOperacao.SetCaption("");
    pgbTotal.SetProgress(100);
    runState_ = RunState::Complete;
  }
  AddLog("Fim");
  desktop_.SetHourglass(false);
}

}  // namespace cau
