#include "service/SoapCodec.h"

#include <charconv>
#include <optional>
#include <sstream>
#include <tuple>
#include <type_traits>
#include <vector>

#include <pugixml.hpp>

#include "config/Cp1252.h"
#include "config/Errors.h"

namespace cau::soap {
namespace {

// ---- Field tables: name and member of every field, in wire order ----

template <class C, class M>
struct Field {
  const char* name;
  M C::*member;
};
template <class C, class M>
constexpr Field<C, M> F(const char* name, M C::*member) {
  return {name, member};
}

constexpr auto Fields(const AdvogadoVO*) {
  return std::make_tuple(F("nomTitulo", &AdvogadoVO::nomTitulo),
                         F("nomAdvogado", &AdvogadoVO::nomAdvogado),
                         F("codOab", &AdvogadoVO::codOab));
}
constexpr auto Fields(const AvisoLogoutVO*) {
  return std::make_tuple(F("sdtAviso", &AvisoLogoutVO::sdtAviso),
                         F("numProcessos", &AvisoLogoutVO::numProcessos),
                         F("numProcessosMes", &AvisoLogoutVO::numProcessosMes));
}
constexpr auto Fields(const AvisoVO*) {
  return std::make_tuple(
      F("id", &AvisoVO::id), F("sdtAviso", &AvisoVO::sdtAviso), F("txtAviso", &AvisoVO::txtAviso),
      F("codOrgao", &AvisoVO::codOrgao), F("codProcesso", &AvisoVO::codProcesso),
      F("estadoProcesso", &AvisoVO::estadoProcesso), F("tipoAviso", &AvisoVO::tipoAviso));
}
constexpr auto Fields(const EscopoVO*) {
  return std::make_tuple(F("codOrgao", &EscopoVO::codOrgao),
                         F("tipoProcesso", &EscopoVO::tipoProcesso));
}
constexpr auto Fields(const HistoricoVO*) {
  return std::make_tuple(F("id", &HistoricoVO::id), F("sdtHistorico", &HistoricoVO::sdtHistorico),
                         F("txtHistorico", &HistoricoVO::txtHistorico),
                         F("metas", &HistoricoVO::metas));
}
constexpr auto Fields(const MetaVO*) {
  return std::make_tuple(F("numInicio", &MetaVO::numInicio), F("numFim", &MetaVO::numFim),
                         F("tipoMeta", &MetaVO::tipoMeta), F("txtValor", &MetaVO::txtValor));
}
constexpr auto Fields(const OutroVO*) {
  return std::make_tuple(F("codOutro", &OutroVO::codOutro), F("txtOutro", &OutroVO::txtOutro));
}
constexpr auto Fields(const ParteVO*) {
  return std::make_tuple(F("codParte", &ParteVO::codParte), F("nomParte", &ParteVO::nomParte),
                         F("advogados", &ParteVO::advogados));
}
constexpr auto Fields(const ProcessoVO*) {
  return std::make_tuple(
      F("codOrgao", &ProcessoVO::codOrgao), F("codProcesso", &ProcessoVO::codProcesso),
      F("codTipoVinculo", &ProcessoVO::codTipoVinculo), F("historicos", &ProcessoVO::historicos),
      F("partes", &ProcessoVO::partes), F("outros", &ProcessoVO::outros),
      F("sdtAudiencia", &ProcessoVO::sdtAudiencia),
      F("codOrgaoOriginario", &ProcessoVO::codOrgaoOriginario),
      F("codProcessoOriginario", &ProcessoVO::codProcessoOriginario),
      F("codProcessoAnt", &ProcessoVO::codProcessoAnt),
      F("codProcessoOriginarioAnt", &ProcessoVO::codProcessoOriginarioAnt),
      F("id", &ProcessoVO::id));
}

template <class T>
concept Described = requires(const T* p) {
  Fields(p);
};

// Element name of the items of an array.
template <class T>
constexpr const char* ItemName() {
  if constexpr (std::is_same_v<T, std::string>) {
    return "string";
  } else if constexpr (std::is_same_v<T, AdvogadoVO>) {
    return "advogadoVO";
  } else if constexpr (std::is_same_v<T, AvisoVO>) {
    return "avisoVO";
  } else if constexpr (std::is_same_v<T, EscopoVO>) {
    return "escopoVO";
  } else if constexpr (std::is_same_v<T, HistoricoVO>) {
    return "historicoVO";
  } else if constexpr (std::is_same_v<T, MetaVO>) {
    return "metaVO";
  } else if constexpr (std::is_same_v<T, OutroVO>) {
    return "outroVO";
  } else if constexpr (std::is_same_v<T, ParteVO>) {
    return "parteVO";
  } else if constexpr (std::is_same_v<T, ProcessoVO>) {
    return "processoVO";
  } else {
    static_assert(sizeof(T) == 0, "not an array item type");
  }
}

template <class T>
concept Enumeration = std::is_enum_v<T>;

// ---- Writing ----

pugi::xml_node Child(pugi::xml_node parent, std::string_view name) {
  return parent.append_child(std::string(name).c_str());
}

// Text as XML 1.0 can carry it: characters it does not allow are left out
// and malformed UTF-8 becomes U+FFFD, so that the server can parse the
// request.
std::string XmlText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    const char32_t cp = text::NextCodePoint(utf8, pos);
    const bool allowed = cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp < 0xD800) ||
                         (cp >= 0xE000 && cp < 0xFFFE) || (cp >= 0x10000 && cp <= 0x10FFFF);
    if (allowed) {
      text::AppendUtf8(out, cp);
    }
  }
  return out;
}

void Write(pugi::xml_node parent, std::string_view name, const std::string& value) {
  auto e = Child(parent, name);
  if (!value.empty()) {
    e.append_child(pugi::node_pcdata).set_value(XmlText(value).c_str());
  }
}

template <class T>
requires std::is_integral_v<T>
void Write(pugi::xml_node parent, std::string_view name, T value) {
  Child(parent, name).append_child(pugi::node_pcdata).set_value(std::to_string(value).c_str());
}

template <Enumeration T>
void Write(pugi::xml_node parent, std::string_view name, T value) {
  Child(parent, name)
      .append_child(pugi::node_pcdata)
      .set_value(std::string(ToString(value)).c_str());
}

// No field of the message types holds a bare object (arrays are always
// written, empty when they have no items), so nothing is ever written nil.
template <class T>
void Write(pugi::xml_node parent, std::string_view name, const std::vector<T>& items);

template <Described T>
void Write(pugi::xml_node parent, std::string_view name, const T& object) {
  auto e = Child(parent, name);
  std::apply([&](const auto&... f) { (Write(e, f.name, object.*(f.member)), ...); },
             Fields(static_cast<const T*>(nullptr)));
}

template <class T>
void Write(pugi::xml_node parent, std::string_view name, const std::vector<T>& items) {
  auto e = Child(parent, name);
  for (const T& item : items) {
    Write(e, ItemName<T>(), item);
  }
}

// ---- Namespaces of a document read without namespace processing ----

std::string_view Prefix(std::string_view qname) {
  auto colon = qname.find(':');
  return colon == std::string_view::npos ? std::string_view{} : qname.substr(0, colon);
}

std::string_view LocalName(std::string_view qname) {
  auto colon = qname.find(':');
  return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

std::string_view LocalName(pugi::xml_node e) {
  return LocalName(e.name());
}

// The namespace URI bound to `prefix` (empty: the default namespace) where
// `e` stands; empty when none is bound.
std::string_view NamespaceFor(pugi::xml_node e, std::string_view prefix) {
  const std::string attr = prefix.empty() ? "xmlns" : "xmlns:" + std::string(prefix);
  for (auto n = e; n && n.type() == pugi::node_element; n = n.parent()) {
    if (auto a = n.attribute(attr.c_str())) {
      return a.value();
    }
  }
  return {};
}

std::string_view NamespaceOf(pugi::xml_node e) {
  return NamespaceFor(e, Prefix(e.name()));
}

bool Is(pugi::xml_node e, std::string_view ns, std::string_view local) {
  return LocalName(e) == local && NamespaceOf(e) == ns;
}

bool IsNil(pugi::xml_node e) {
  for (auto a : e.attributes()) {
    std::string_view name = a.name();
    if (LocalName(name) == "nil" && !Prefix(name).empty() &&
        NamespaceFor(e, Prefix(name)) == kXsiNs) {
      std::string_view v = a.value();
      return v == "true" || v == "1";
    }
  }
  return false;
}

std::string Text(pugi::xml_node e) {
  std::string out;
  for (auto c : e.children()) {
    if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) {
      out += c.value();
    }
  }
  return out;
}

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) {
    return {};
  }
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

[[noreturn]] void Bad(pugi::xml_node e, std::string_view what, std::string_view value) {
  throw BadResponse("Resposta inválida do servidor: " + std::string(what) + " \"" +
                    text::ReduceToCp1252(value) + "\" em <" + text::ReduceToCp1252(LocalName(e)) +
                    ">");
}

// ---- Reading ----

void Read(pugi::xml_node e, std::string& out) {
  out = text::ReduceToCp1252(Text(e));
}

template <class T>
requires std::is_integral_v<T>
void Read(pugi::xml_node e, T& out) {
  const std::string text = Text(e);
  std::string_view s = Trim(text);
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
  }
  T value{};
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || ec != std::errc{} || end != s.data() + s.size()) {
    Bad(e, "número", text);
  }
  out = value;
}

std::optional<EstadoProcesso> ParseEnum(std::string_view s, EstadoProcesso*) {
  return ParseEstadoProcesso(s);
}
std::optional<TipoAviso> ParseEnum(std::string_view s, TipoAviso*) {
  return ParseTipoAviso(s);
}
std::optional<TipoMeta> ParseEnum(std::string_view s, TipoMeta*) {
  return ParseTipoMeta(s);
}

template <Enumeration T>
void Read(pugi::xml_node e, T& out) {
  const std::string text = Text(e);
  auto v = ParseEnum(Trim(text), static_cast<T*>(nullptr));
  if (!v) {
    Bad(e, "valor", text);
  }
  out = *v;
}

template <class T>
void ReadField(pugi::xml_node e, T& out);

template <Described T>
void Read(pugi::xml_node e, T& out) {
  out = T{};
  for (auto child : e.children()) {
    if (child.type() != pugi::node_element) {
      continue;
    }
    const auto local = LocalName(child);
    std::apply(
        [&](const auto&... f) {
          ((local == f.name ? ReadField(child, out.*(f.member)) : void()), ...);
        },
        Fields(static_cast<const T*>(nullptr)));
  }
}

// Every child element is one item, whatever its name; a nil object item
// holds nothing and is left out.
template <class T>
void Read(pugi::xml_node e, std::vector<T>& out) {
  out.clear();
  for (auto child : e.children()) {
    if (child.type() != pugi::node_element) {
      continue;
    }
    if constexpr (Described<T>) {
      if (IsNil(child)) {
        continue;
      }
    }
    ReadField(child, out.emplace_back());
  }
}

// A nil element reads as the zero value of its type.
template <class T>
void ReadField(pugi::xml_node e, T& out) {
  if (IsNil(e)) {
    out = T{};
  } else {
    Read(e, out);
  }
}

std::string InnerXml(pugi::xml_node e) {
  std::ostringstream os;
  for (auto c : e.children()) {
    c.print(os, "", pugi::format_raw);
  }
  return os.str();
}

[[noreturn]] void ThrowFault(pugi::xml_node fault) {
  std::string code, message, actor, detail;
  for (auto c : fault.children()) {
    const auto local = LocalName(c);
    if (local == "faultcode") {
      code = text::ReduceToCp1252(Trim(Text(c)));
    } else if (local == "faultstring") {
      message = text::ReduceToCp1252(Text(c));
    } else if (local == "faultactor") {
      actor = text::ReduceToCp1252(Text(c));
    } else if (local == "detail") {
      detail = text::ReduceToCp1252(InnerXml(c));
    }
  }
  if (message.empty()) {
    message = "Falha SOAP sem descrição" + (code.empty() ? std::string() : " (" + code + ")");
  }
  throw SoapFault(message, code, actor, detail);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return text::UpperAscii(a) == text::UpperAscii(b);
}

// The element that holds the result; a null node when the response element
// is empty.
pugi::xml_node ResultElement(const pugi::xml_document& doc) {
  const auto envelope = doc.document_element();
  if (!envelope || !Is(envelope, kEnvelopeNs, "Envelope")) {
    throw BadResponse("Resposta inválida do servidor: não é um envelope SOAP 1.1");
  }
  pugi::xml_node body;
  for (auto c : envelope.children()) {
    if (c.type() == pugi::node_element && Is(c, kEnvelopeNs, "Body")) {
      body = c;
      break;
    }
  }
  if (!body) {
    throw BadResponse("Resposta inválida do servidor: envelope SOAP sem Body");
  }
  pugi::xml_node response =
      body.find_child([](pugi::xml_node n) { return n.type() == pugi::node_element; });
  if (!response) {
    throw BadResponse("Resposta inválida do servidor: Body SOAP vazio");
  }
  if (Is(response, kEnvelopeNs, "Fault")) {
    ThrowFault(response);
  }
  std::vector<pugi::xml_node> children;
  for (auto c : response.children()) {
    if (c.type() == pugi::node_element) {
      children.push_back(c);
    }
  }
  if (children.empty()) {
    return {};
  }
  if (children.size() == 1) {
    return children.front();
  }
  for (auto c : children) {
    if (EqualsNoCase(LocalName(c), "Result") || EqualsNoCase(LocalName(c), "Return")) {
      return c;
    }
  }
  throw BadResponse("Resposta inválida do servidor: <" + text::ReduceToCp1252(LocalName(response)) +
                    "> com vários elementos e nenhum resultado");
}

}  // namespace

// ---- RequestWriter ----

struct RequestWriter::Impl {
  pugi::xml_document doc;
  pugi::xml_node operation;
};

RequestWriter::RequestWriter(std::string_view operation, std::string_view serviceNs)
    : impl_(std::make_unique<Impl>()) {
  auto decl = impl_->doc.append_child(pugi::node_declaration);
  decl.append_attribute("version").set_value("1.0");
  decl.append_attribute("encoding").set_value("utf-8");
  auto envelope = impl_->doc.append_child("SOAP-ENV:Envelope");
  envelope.append_attribute("xmlns:SOAP-ENV").set_value(std::string(kEnvelopeNs).c_str());
  envelope.append_attribute("xmlns:xsd").set_value(std::string(kXsdNs).c_str());
  envelope.append_attribute("xmlns:xsi").set_value(std::string(kXsiNs).c_str());
  auto body = envelope.append_child("SOAP-ENV:Body");
  impl_->operation = Child(body, operation);
  impl_->operation.append_attribute("xmlns").set_value(std::string(serviceNs).c_str());
}

RequestWriter::~RequestWriter() = default;

void RequestWriter::Add(std::string_view name, const std::string& value) {
  Write(impl_->operation, name, value);
}
void RequestWriter::Add(std::string_view name, std::int64_t value) {
  Write(impl_->operation, name, value);
}
void RequestWriter::Add(std::string_view name, Origem value) {
  Write(impl_->operation, name, value);
}
void RequestWriter::Add(std::string_view name, const ArrayOfProcessoVO& value) {
  Write(impl_->operation, name, value);
}

std::string RequestWriter::Text() const {
  std::ostringstream os;
  impl_->doc.save(os, "", pugi::format_raw, pugi::encoding_utf8);
  return os.str();
}

// ---- ReadResponse ----

template <class T>
T ReadResponse(std::string_view body) {
  pugi::xml_document doc;
  const auto parsed =
      doc.load_buffer(body.data(), body.size(), pugi::parse_default | pugi::parse_ws_pcdata_single,
                      pugi::encoding_auto);
  if (!parsed) {
    throw BadResponse(std::string("Resposta inválida do servidor: XML mal formado (") +
                      parsed.description() + ", posição " + std::to_string(parsed.offset) + ")");
  }
  T out{};
  if (auto result = ResultElement(doc)) {
    ReadField(result, out);
  }
  return out;
}

template std::string ReadResponse<std::string>(std::string_view);
template AvisoLogoutVO ReadResponse<AvisoLogoutVO>(std::string_view);
template ArrayOfAvisoVO ReadResponse<ArrayOfAvisoVO>(std::string_view);
template ArrayOfProcessoVO ReadResponse<ArrayOfProcessoVO>(std::string_view);
template ArrayOfEscopoVO ReadResponse<ArrayOfEscopoVO>(std::string_view);

}  // namespace cau::soap
