// The push service: its message types, the port type with the eight
// operations, and the binding that reaches the service over SOAP 1.1.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cau {

class SoapTransport;

// ---- Enumerations (the wire carries the value's name) ----

enum class EstadoProcesso {
  EM_CADASTRAMENTO,
  EM_CADASTRAMENTO_2,
  CADASTRADO,
  EM_DESCADASTRAMENTO,
  EM_DESCADASTRAMENTO_2,
  DESCADASTRADO,
  ERRO
};

enum class TipoAviso { ALERTA, COBRANCA, PROCESSO, AUDIENCIA_INC, AUDIENCIA_EXC, VERSAO, URL };

// `URL2` is written and read on the wire as "URL".
enum class TipoMeta { QUEBRA, DESTAQUE, URL2, TITULO, PAGINA, COLUNA };

enum class Origem { CAU, ORBE };

// The name of a value as the wire carries it.
std::string_view ToString(EstadoProcesso v);
std::string_view ToString(TipoAviso v);
std::string_view ToString(TipoMeta v);
std::string_view ToString(Origem v);

// The value for a wire name (exact spelling), nullopt when there is none.
std::optional<EstadoProcesso> ParseEstadoProcesso(std::string_view name);
std::optional<TipoAviso> ParseTipoAviso(std::string_view name);
std::optional<TipoMeta> ParseTipoMeta(std::string_view name);
std::optional<Origem> ParseOrigem(std::string_view name);

// ---- Message types: fields in their wire order ----
// Fields marked "nillable" may arrive absent or nil; they then hold their
// zero value (empty text, 0, the first enumeration value, no items).

using ArrayOfstring = std::vector<std::string>;

// A lawyer of a party.
struct AdvogadoVO {
  std::string nomTitulo;  // nillable
  std::string nomAdvogado;
  std::string codOab;  // nillable
};
using advogadoVO2 = AdvogadoVO;
using ArrayOfAdvogadoVO = std::vector<advogadoVO2>;

// The result of `logout`: the account's counters.
struct AvisoLogoutVO {
  std::string sdtAviso;              // date and time of the server's count
  std::int32_t numProcessos = 0;     // cases registered now
  std::int32_t numProcessosMes = 0;  // largest number registered in the month
};

// A notice.
struct AvisoVO {
  std::int32_t id = 0;
  std::string sdtAviso;
  std::string txtAviso;
  std::string codOrgao;
  std::string codProcesso;
  EstadoProcesso estadoProcesso = EstadoProcesso::EM_CADASTRAMENTO;  // nillable
  TipoAviso tipoAviso = TipoAviso::ALERTA;
};
using avisoVO2 = AvisoVO;
using ArrayOfAvisoVO = std::vector<avisoVO2>;

// One authorised court.
struct EscopoVO {
  std::string codOrgao;
  ArrayOfstring tipoProcesso;
};
using escopoVO2 = EscopoVO;
using ArrayOfEscopoVO = std::vector<escopoVO2>;

// Mark-up of a stretch of a movement's text.
struct MetaVO {
  std::int32_t numInicio = 0;  // nillable
  std::int32_t numFim = 0;     // nillable
  TipoMeta tipoMeta = TipoMeta::QUEBRA;
  std::string txtValor;
};
using metaVO2 = MetaVO;
using ArrayOfMetaVO = std::vector<metaVO2>;

// One movement of a case.
struct HistoricoVO {
  std::int32_t id = 0;
  std::string sdtHistorico;
  std::string txtHistorico;
  ArrayOfMetaVO metas;  // nillable
};
using historicoVO2 = HistoricoVO;
using ArrayOfHistoricoVO = std::vector<historicoVO2>;

// A further item of data of a case.
struct OutroVO {
  std::string codOutro;
  std::string txtOutro;
};
using outroVO2 = OutroVO;
using ArrayOfOutroVO = std::vector<outroVO2>;

// A party of a case.
struct ParteVO {
  std::string codParte;
  ArrayOfstring nomParte;
  ArrayOfAdvogadoVO advogados;  // nillable
};
using parteVO2 = ParteVO;
using ArrayOfParteVO = std::vector<parteVO2>;

// A case.
struct ProcessoVO {
  std::string codOrgao;
  std::string codProcesso;
  std::string codTipoVinculo;            // nillable
  ArrayOfHistoricoVO historicos;         // nillable
  ArrayOfParteVO partes;                 // nillable
  ArrayOfOutroVO outros;                 // nillable
  std::string sdtAudiencia;              // nillable
  std::string codOrgaoOriginario;        // nillable
  std::string codProcessoOriginario;     // nillable
  std::string codProcessoAnt;            // nillable
  std::string codProcessoOriginarioAnt;  // nillable
  std::int32_t id = 0;
};
using processoVO2 = ProcessoVO;
using ArrayOfProcessoVO = std::vector<processoVO2>;

// ---- The port type ----
// Every call either returns its result or throws a cau::Error: a
// TransportError (HTTP status, connection, time-out), a SoapFault (message =
// faultstring) or a BadResponse. The caller owns what a call returns.
class PushServicePortType {
 public:
  virtual ~PushServicePortType() = default;

  virtual ArrayOfAvisoVO avisosN(const std::string& sessionId, std::int64_t aPartir,
                                 std::int64_t limite) = 0;
  virtual ArrayOfAvisoVO descadastraN(const std::string& sessionId,
                                      const ArrayOfProcessoVO& processos) = 0;
  virtual AvisoLogoutVO logout(const std::string& sessionId) = 0;
  virtual ArrayOfProcessoVO historicosN(const std::string& sessionId, std::int64_t aPartir,
                                        std::int64_t limite, std::int64_t offset) = 0;
  // Returns the new session id.
  virtual std::string login(const std::string& credencial, Origem origem,
                            const std::string& txtIdSessaoAnterior, const std::string& txtIdMaquina,
                            const std::string& txtVersao) = 0;
  virtual ArrayOfEscopoVO escopoN(const std::string& sessionId) = 0;
  virtual ArrayOfProcessoVO consultaN(const std::string& sessionId,
                                      const ArrayOfProcessoVO& processos) = 0;
  virtual ArrayOfAvisoVO cadastraN(const std::string& sessionId,
                                   const ArrayOfProcessoVO& processos) = 0;
};

// The built-in endpoint: http, the maker's push host, port 80.
std::string DefaultPushServiceAddress();

// The address a proxy made for `address` talks to: the built-in endpoint
// when empty, else `address` unchanged. Throws cau::Error unless the scheme
// is http or https and a host is named.
std::string ResolvePushServiceAddress(const std::string& address);

// A proxy that sends every call through `transport` (which must outlive it)
// to the resolved address.
std::unique_ptr<PushServicePortType> GetPushService(const std::string& address,
                                                    SoapTransport& transport);

}  // namespace cau
