#include "service/PushService.h"

#include <array>
#include <utility>

#include <curl/curl.h>

#include "BuildInfo.h"
#include "config/Errors.h"
#include "service/HttpTransport.h"
#include "service/SoapCodec.h"

namespace cau {
namespace {

template <class E, std::size_t N>
using Names = std::array<std::pair<E, std::string_view>, N>;

constexpr Names<EstadoProcesso, 7> kEstadoProcesso{{
    {EstadoProcesso::EM_CADASTRAMENTO, "EM_CADASTRAMENTO"},
    {EstadoProcesso::EM_CADASTRAMENTO_2, "EM_CADASTRAMENTO_2"},
    {EstadoProcesso::CADASTRADO, "CADASTRADO"},
    {EstadoProcesso::EM_DESCADASTRAMENTO, "EM_DESCADASTRAMENTO"},
    {EstadoProcesso::EM_DESCADASTRAMENTO_2, "EM_DESCADASTRAMENTO_2"},
    {EstadoProcesso::DESCADASTRADO, "DESCADASTRADO"},
    {EstadoProcesso::ERRO, "ERRO"},
}};
constexpr Names<TipoAviso, 7> kTipoAviso{{
    {TipoAviso::ALERTA, "ALERTA"},
    {TipoAviso::COBRANCA, "COBRANCA"},
    {TipoAviso::PROCESSO, "PROCESSO"},
    {TipoAviso::AUDIENCIA_INC, "AUDIENCIA_INC"},
    {TipoAviso::AUDIENCIA_EXC, "AUDIENCIA_EXC"},
    {TipoAviso::VERSAO, "VERSAO"},
    {TipoAviso::URL, "URL"},
}};
constexpr Names<TipoMeta, 6> kTipoMeta{{
    {TipoMeta::QUEBRA, "QUEBRA"},
    {TipoMeta::DESTAQUE, "DESTAQUE"},
    {TipoMeta::URL2, "URL"},
    {TipoMeta::TITULO, "TITULO"},
    {TipoMeta::PAGINA, "PAGINA"},
    {TipoMeta::COLUNA, "COLUNA"},
}};
constexpr Names<Origem, 2> kOrigem{{{Origem::CAU, "CAU"}, {Origem::ORBE, "ORBE"}}};

template <class E, std::size_t N>
std::string_view NameOf(const Names<E, N>& names, E v) {
  for (const auto& [value, name] : names) {
    if (value == v) {
      return name;
    }
  }
  return {};
}

template <class E, std::size_t N>
std::optional<E> ValueOf(const Names<E, N>& names, std::string_view name) {
  for (const auto& [value, n] : names) {
    if (n == name) {
      return value;
    }
  }
  return std::nullopt;
}

// The proxy: one SOAP request per call through the transport.
class SoapPushService final : public PushServicePortType {
 public:
  SoapPushService(std::string address, SoapTransport& transport)
      : address_(std::move(address)), transport_(transport) {}

  ArrayOfAvisoVO avisosN(const std::string& sessionId, std::int64_t aPartir,
                         std::int64_t limite) override {
    soap::RequestWriter w("avisosN", CAU_SERVICE_NS);
    w.Add("sessionId", sessionId);
    w.Add("aPartir", aPartir);
    w.Add("limite", limite);
    return Call<ArrayOfAvisoVO>("avisosN", w);
  }

  ArrayOfAvisoVO descadastraN(const std::string& sessionId,
                              const ArrayOfProcessoVO& processos) override {
    return WithCases<ArrayOfAvisoVO>("descadastraN", sessionId, processos);
  }

  AvisoLogoutVO logout(const std::string& sessionId) override {
    soap::RequestWriter w("logout", CAU_SERVICE_NS);
    w.Add("sessionId", sessionId);
    return Call<AvisoLogoutVO>("logout", w);
  }

  ArrayOfProcessoVO historicosN(const std::string& sessionId, std::int64_t aPartir,
                                std::int64_t limite, std::int64_t offset) override {
    soap::RequestWriter w("historicosN", CAU_SERVICE_NS);
    w.Add("sessionId", sessionId);
    w.Add("aPartir", aPartir);
    w.Add("limite", limite);
    w.Add("offset", offset);
    return Call<ArrayOfProcessoVO>("historicosN", w);
  }

  std::string login(const std::string& credencial, Origem origem,
                    const std::string& txtIdSessaoAnterior, const std::string& txtIdMaquina,
                    const std::string& txtVersao) override {
    soap::RequestWriter w("login", CAU_SERVICE_NS);
    w.Add("credencial", credencial);
    w.Add("origem", origem);
    w.Add("txtIdSessaoAnterior", txtIdSessaoAnterior);
    w.Add("txtIdMaquina", txtIdMaquina);
    w.Add("txtVersao", txtVersao);
    return Call<std::string>("login", w);
  }

  ArrayOfEscopoVO escopoN(const std::string& sessionId) override {
    soap::RequestWriter w("escopoN", CAU_SERVICE_NS);
    w.Add("sessionId", sessionId);
    return Call<ArrayOfEscopoVO>("escopoN", w);
  }

  ArrayOfProcessoVO consultaN(const std::string& sessionId,
                              const ArrayOfProcessoVO& processos) override {
    return WithCases<ArrayOfProcessoVO>("consultaN", sessionId, processos);
  }

  ArrayOfAvisoVO cadastraN(const std::string& sessionId,
                           const ArrayOfProcessoVO& processos) override {
    return WithCases<ArrayOfAvisoVO>("cadastraN", sessionId, processos);
  }

 private:
  template <class R>
  R WithCases(const char* operation, const std::string& sessionId,
              const ArrayOfProcessoVO& processos) {
    soap::RequestWriter w(operation, CAU_SERVICE_NS);
    w.Add("sessionId", sessionId);
    w.Add("processos", processos);
    return Call<R>(operation, w);
  }

  template <class R>
  R Call(const char* operation, const soap::RequestWriter& request) {
    const SoapHttpResponse response = transport_.Post(address_, operation, request.Text());
    try {
      return soap::ReadResponse<R>(response.body);
    } catch (const BadResponse& e) {
      // A 500 that carries no fault is an HTTP failure, not a SOAP answer.
      if (response.status == 500) {
        throw TransportError("Erro HTTP " + std::to_string(response.status) + " " +
                             response.statusText + " - endereço: " + address_ + " (" + e.what() +
                             ")");
      }
      throw;
    }
  }

  std::string address_;
  SoapTransport& transport_;
};

struct UrlHandle {
  CURLU* url = curl_url();
  ~UrlHandle() { curl_url_cleanup(url); }
};

}  // namespace

std::string_view ToString(EstadoProcesso v) {
  return NameOf(kEstadoProcesso, v);
}
std::string_view ToString(TipoAviso v) {
  return NameOf(kTipoAviso, v);
}
std::string_view ToString(TipoMeta v) {
  return NameOf(kTipoMeta, v);
}
std::string_view ToString(Origem v) {
  return NameOf(kOrigem, v);
}

std::optional<EstadoProcesso> ParseEstadoProcesso(std::string_view name) {
  return ValueOf(kEstadoProcesso, name);
}
std::optional<TipoAviso> ParseTipoAviso(std::string_view name) {
  return ValueOf(kTipoAviso, name);
}
std::optional<TipoMeta> ParseTipoMeta(std::string_view name) {
  // "URL" is the wire name of URL2; the value's own name is taken too.
  return name == "URL2" ? std::optional(TipoMeta::URL2) : ValueOf(kTipoMeta, name);
}
std::optional<Origem> ParseOrigem(std::string_view name) {
  return ValueOf(kOrigem, name);
}

std::string DefaultPushServiceAddress() {
  return std::string("http://") + CAU_PUSH_HOST + ":80/PushServer/services/PushService";
}

std::string ResolvePushServiceAddress(const std::string& address) {
  if (address.empty()) {
    return DefaultPushServiceAddress();
  }
  UrlHandle h;
  char* scheme = nullptr;
  char* host = nullptr;
  bool ok = h.url && curl_url_set(h.url, CURLUPART_URL, address.c_str(), 0) == CURLUE_OK &&
            curl_url_get(h.url, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
            curl_url_get(h.url, CURLUPART_HOST, &host, 0) == CURLUE_OK;
  if (ok) {
    const std::string s = scheme;
    ok = (s == "http" || s == "https") && host[0] != '\0';
  }
  curl_free(scheme);
  curl_free(host);
  if (!ok) {
    throw Error("Endereço do serviço inválido (aceitos apenas http e https): " + address);
  }
  return address;
}

std::unique_ptr<PushServicePortType> GetPushService(const std::string& address,
                                                    SoapTransport& transport) {
  return std::make_unique<SoapPushService>(ResolvePushServiceAddress(address), transport);
}

}  // namespace cau
