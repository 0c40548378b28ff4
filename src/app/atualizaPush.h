// The main window as a model: its controls, the objects it owns for the
// life of the program, the start-up checks, the run sequence and the log
// operations that every workflow uses. A front end renders the controls and
// calls the handlers; the window reaches the desktop only through Desktop.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <pugixml.hpp>

#include "app/Controls.h"
#include "app/Desktop.h"
#include "config/Clock.h"
#include "config/cauPushCfg.h"
#include "config/uConfig.h"
#include "db/TravaBanco.h"
#include "db/agendaCauDao.h"
#include "db/pastaCauDao.h"
#include "db/processoCauDao.h"
#include "service/HttpTransport.h"
#include "service/PushService.h"

namespace cau {

class THotLog;

using TStringList = std::vector<std::string>;

// Makes the service proxy for an address (empty: the built-in endpoint)
// over the window's transport, which outlives it.
using ServiceFactory = std::function<std::unique_ptr<PushServicePortType>(
    const std::string& address, SoapTransport& transport)>;

// What the window takes from the program that creates it.
struct FormEnvironment {
  std::vector<std::string> args;       // the command line without the program's name
  std::string exePath;                 // full path of the executable
  THotLog* log = nullptr;              // the session log; null: AppLog()
  ServiceFactory makeService;          // null: the SOAP binding
  std::shared_ptr<const Clock> clock;  // null: the system's clock
};

// The application title: the task bar's and the default error box's.
inline constexpr std::string_view kApplicationTitle = "Push Causarium";

class TfrmAtualizaPush {
 public:
  enum class StartUp { Ready, Stopped, Ended };  // how FormCreate ended
  enum class RunState { Idle, Running, Complete, Cancelled };

  TfrmAtualizaPush(Desktop& desktop, FormEnvironment environment);
  // Runs FormDestroy when nobody did.
  virtual ~TfrmAtualizaPush();
  TfrmAtualizaPush(const TfrmAtualizaPush&) = delete;
  TfrmAtualizaPush& operator=(const TfrmAtualizaPush&) = delete;

  // Tells `observer` of every change of every control (null: nobody).
  void SetObserver(ControlObserver* observer);
  std::vector<Control*> Controls();

  // ---- Window events ----
  // The start-up checks. Ended: a box was shown and the program must end
  // without showing the window. Stopped: a red line, Cancelado set, the
  // window usable for reading the log.
  StartUp FormCreate();
  void FormShow();
  void FormClose();
  void FormDestroy();

  void btnFimClick();
  void btnIniciarClick();
  void btnLoginClick();
  void btnLogoutClick();
  void itmResincClick();
  void itmSairClick();
  void Verificaatualizao1Click();
  void itmSuporteClick();
  void Sobre1Click();
  void btnMsgClick();

  // ---- The workflows' steps (each in a file of its own) ----
  virtual void btnEscopoClick();
  virtual void btnCadastraClick();
  virtual void btnHistoricosClick();
  virtual void btnDescadastraClick();
  virtual void btnAvisosClick();
  virtual void Resincroniza();

  // ---- The court list and the scope ----
  // The court list from OrgaosXML, one "code=short name" line per court;
  // a court described wrongly gets a red line and is left out.
  std::unique_ptr<TStringList> CarregaOrgaos();
  // The code of a court's short name in ListaOrgaos (letters a to z in
  // either case); -1 when the list lacks it.
  std::int32_t CodigoDoOrgao(std::string_view nome) const;
  // The duplicate check and the registration scan that the scope step runs.
  virtual void ProcuraDuplicados();
  virtual void BuscaParaCadastrar();

  // ---- Per-case and per-notice operations of the workflows ----
  // Writes one case of the movement download into the host's tables; the
  // largest movement id it read, 0 when none.
  std::int32_t ApplyProcesso(ProcessoVO& processo);
  // Writes a hearing into the current case and its automatic appointment.
  void UpdateHearing(const std::string& orgao, const std::string& processo,
                     const std::string& descricao, const std::string& quando);
  // Acts on one notice of the service and raises lastIdAviso.
  void ApplyAviso(AvisoVO& aviso);

  // ---- The unregistration queue ----
  // Adds a case key to ListaDescadastrar unless it holds it (ignoring
  // case) and keeps the state file's copy in step; true when added.
  bool QueueDescadastrar(const std::string& key);
  // Writes ListaDescadastrar to the state file (the entries the service
  // has not yet accepted).
  void SalvaDescadastrar();

  // ---- The run ----
  void ExecutaPassos();
  RunState Run() const { return runState_; }

  // ---- Session ----
  void Login(const std::string& usuario, const std::string& senha);
  void Logout();
  void MostraContadores(const AvisoLogoutVO& result);
  std::string DescricaoMaquina() const;

  // ---- Log and status ----
  void AddLog(std::string_view text);
  void AddErro(std::string_view text);
  void SetStatus(std::string_view text);
  // A line for the log file only, with the prefix "{now}[PUSH] ".
  void FileLog(std::string_view text);

  // ---- Members ----
  bool Cancelado = false;
  bool ModoDebug = false;
  std::unique_ptr<TcauPushCfg> PushCfg;
  DatabaseLock Trava;
  std::unique_ptr<PushServicePortType> Servico;
  std::unique_ptr<TStringList> ListaEscopo;
  std::unique_ptr<TStringList> ListaOrgaos;
  std::unique_ptr<TStringList> ListaCadastrar;
  std::unique_ptr<TStringList> ListaDescadastrar;
  std::string Usuario;
  std::string Senha;
  std::string IdSessao;
  std::string AppDir;
  bool AutoStart = false;
  bool SemProxy = false;
  std::unique_ptr<db::TProcessoDao> ProcessoDao;
  std::unique_ptr<db::TPastaDao> PastaDao;
  std::unique_ptr<db::TAgendaDao> AgendaDao;
  std::int32_t QtdCadastrados = 0;
  std::string UrlServico;
  std::unique_ptr<TConfig> Config;
  pugi::xml_document OrgaosXML;

  // ---- Controls (left, top, width, height) ----
  Control Window{"frmAtualizaPush", {0, 0, 506, 417}, std::string(kCaption)};
  TLabel Label1{"Label1", {13, 5}, "Usuário:"};
  TLabel lbTitulo{"lbTitulo", {57, 5}};
  TLabel lbOperacao{"lbOperacao", {497, 5}, "..."};
  TLabel lbRede{"lbRede", {391, -11}, "*"};
  TGauge pgbTotal{"pgbTotal", {9, 21, 489, 16}};
  TProgressBar ProgressBar1{"ProgressBar1", {9, 42, 489, 17}};
  TLabel lbStatus{"lbStatus", {12, 63}, "Pronto"};
  TButton btnLogin{"btnLogin", {1, 56, 42, 25}, "Login"};
  TButton btnEscopo{"btnEscopo", {43, 57, 83, 24}, "Escopo"};
  TButton btnCadastra{"btnCadastra", {125, 57, 83, 24}, "Cadastra"};
  TButton btnHistoricos{"btnHistoricos", {207, 57, 83, 24}, "Historicos"};
  TButton btnDescadastra{"btnDescadastra", {289, 57, 91, 24}, "Descadastra"};
  TButton btnAvisos{"btnAvisos", {379, 57, 83, 24}, "Avisos"};
  TButton btnLogout{"btnLogout", {462, 56, 44, 25}, "Logout"};
  TLogPane mInfo{"mInfo", {8, 78, 490, 185}};
  TGroupBox gbSituacao{"gbSituacao", {9, 267, 489, 73}, "Situação "};
  // In the group box:
  TLabel Label2{"Label2", {5, 18}, "Processos cadastrados:"};
  TLabel lbProcs{"lbProcs", {132, 18}, "000"};
  TLabel Label3{"Label3", {5, 35}, "Máx. procs. cadastrados:"};
  TLabel lbMaxProcs{"lbMaxProcs", {132, 36}, "0000"};
  TLabel Label4{"Label4", {5, 53}, "Máx. procs. mês anterior:"};
  TLabel lbMaxProcsAnt{"lbMaxProcsAnt", {132, 54}, "00000"};
  TButton btnMsg{"btnMsg", {215, 28, 48, 25}, "0"};
  // On the window again:
  TButton btnIniciar{"btnIniciar", {288, 289, 89, 36}, "Conectar"};
  TButton btnFim{"btnFim", {395, 292, 89, 31}, "Fim"};
  TImage Image1{"Image1", {9, 344, 488, 67}};
  // Menus:
  TMenuItem Opcoes1{"Opcoes1", {}, "Opções"};
  TMenuItem itmResinc{"itmResinc", {}, "Resincroniza"};
  TMenuItem itmSair{"itmSair", {}, "Sair"};
  TMenuItem Ajuda1{"Ajuda1", {}, "Ajuda"};
  TMenuItem Verificaatualizao1{"Verificaatualizao1", {}, "Procura nova versão..."};
  TMenuItem itmSuporte{"itmSuporte", {}, "Suporte"};
  TMenuItem Sobre1{"Sobre1", {}, "Sobre"};

  static constexpr std::string_view kCaption = "PUSH CAU - Atualizador de Processos via PUSH";

  // register helpers
  // The process table; throws cau::Error when it is not open.
  db::TProcessoDao& Processos();
  // A case key as the lists compare it: letters without their case.
  static std::string FoldKey(std::string_view key);
  // Whether `lista` holds `key`, letters compared without their case.
  static bool Holds(const TStringList& lista, std::string_view key);
  // The case a key names: the short name ListaOrgaos gives for its court
  // code (empty when none) and the number after its first ".".
  ProcessoVO ProcessoFromKey(std::string_view key) const;
  // Puts the unregistrations the state file keeps back into ListaDescadastrar.
  void RestorePendingUnregistrations();
  // While the import runs, QueueDescadastrar adds to the list only; the
  // import writes the queue to the state file before lastIdHistorico passes
  // the page that queued it (a rerun reads that page again otherwise).
  void BeginImportQueue();
  void SaveImportQueue();
  void EndImportQueue();

 protected:
  Desktop& desktop_;

  // The service proxy; fails when there is none.
  PushServicePortType& Service();

 private:
  void EndWith(std::string_view text, std::string_view caption, MsgIcon icon);
  void StopWith(std::string_view text);
  StartUp StartUpSequence();
  void MakeService();
  // Runs one step; a failure it lets out becomes a red line and cancels.
  void Guarded(void (TfrmAtualizaPush::*step)());
  THotLog& Log();

  FormEnvironment env_;
  std::shared_ptr<const Clock> clock_;
  std::unique_ptr<HttpTransport> transport_;
  RunState runState_ = RunState::Idle;
  // The server's counters were stored by the last logout (set by
  // MostraContadores); a failed logout leaves procsAtual from an earlier run.
  bool countsFresh_ = false;
  // The import's queue (BeginImportQueue): folded keys of ListaDescadastrar,
  // and whether entries are not in the state file yet.
  std::optional<std::unordered_set<std::string>> importQueue_;
  bool importQueueDirty_ = false;
  bool destroyed_ = false;
};

// The user's regional short date and long time ("dd/mm/yyyy hh:nn:ss"),
// the time left out at exactly midnight.
std::string RegionalDateTime(const LocalTime& t);

// The update server: the environment's CAU_UPDATE_SERVER when set, else
// the build's setting.
std::string UpdateServer();
// The update check's address for this version.
std::string UpdateCheckAddress();

// The service transport's limits as the environment may narrow them, read
// once at start (scheduled runs against a slow or test server):
// CAU_RECEIVE_TIMEOUT_MS and CAU_RESPONSE_CAP_BYTES, positive decimal
// numbers; absent or unreadable values keep the defaults.
std::chrono::milliseconds ReceiveTimeoutSetting();
std::size_t ResponseCapSetting();

// The program's exit status once the window is gone: 2 when the start-up
// ended the program, 0 after a complete run, 1 otherwise (no run, or a run
// cancelled or failed).
int ExitStatus(TfrmAtualizaPush::StartUp startUp, TfrmAtualizaPush::RunState run);

}  // namespace cau
