#include "SoapXml.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <sstream>

#include "BuildInfo.h"

namespace pushsim::soap {
namespace {

constexpr std::array kArrayFields = {"processos", "historicos", "partes",    "outros",
                                     "metas",     "nomParte",   "advogados", "tipoProcesso"};
constexpr std::array kNumberParams = {"aPartir", "limite", "offset"};

template <std::size_t N>
bool OneOf(const std::array<const char*, N>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

std::string_view PrefixOf(std::string_view qname) {
  const auto colon = qname.find(':');
  return colon == std::string_view::npos ? std::string_view{} : qname.substr(0, colon);
}

std::string_view AfterPrefix(std::string_view qname) {
  const auto colon = qname.find(':');
  return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

// The URI bound to prefix (empty: the default namespace) at element.
std::string ResolvePrefix(pugi::xml_node element, std::string_view prefix) {
  const std::string attr = prefix.empty() ? "xmlns" : "xmlns:" + std::string(prefix);
  for (pugi::xml_node n = element; n && n.type() == pugi::node_element; n = n.parent()) {
    if (pugi::xml_attribute a = n.attribute(attr.c_str())) {
      return a.value();
    }
  }
  if (prefix == "xml") {
    return "http://www.w3.org/XML/1998/namespace";
  }
  return {};
}

pugi::xml_node FirstElement(pugi::xml_node parent) {
  for (pugi::xml_node n = parent.first_child(); n; n = n.next_sibling()) {
    if (n.type() == pugi::node_element) {
      return n;
    }
  }
  return {};
}

nlohmann::json Convert(pugi::xml_node element) {
  const std::string_view name = LocalName(element);
  if (IsNil(element)) {
    return nullptr;
  }
  if (OneOf(kArrayFields, name)) {
    nlohmann::json list = nlohmann::json::array();
    for (pugi::xml_node item : Items(element)) {
      list.push_back(Convert(item));
    }
    return list;
  }
  const std::vector<pugi::xml_node> children = Items(element);
  if (!children.empty()) {
    nlohmann::json object = nlohmann::json::object();
    for (pugi::xml_node child : children) {
      object[std::string(LocalName(child))] = Convert(child);
    }
    return object;
  }
  const std::string text = Text(element);
  if (OneOf(kNumberParams, name)) {
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc() && end == text.data() + text.size()) {
      return value;
    }
  }
  return text;
}

}  // namespace

const std::string& ServiceNs() {
  static const std::string ns = CAU_SERVICE_NS;
  return ns;
}

std::string NamespaceOf(pugi::xml_node element) {
  return ResolvePrefix(element, PrefixOf(element.name()));
}

std::string_view LocalName(pugi::xml_node element) {
  return AfterPrefix(element.name());
}

bool IsNil(pugi::xml_node element) {
  for (pugi::xml_attribute a = element.first_attribute(); a; a = a.next_attribute()) {
    const std::string_view name = a.name();
    const std::string_view prefix = PrefixOf(name);
    if (prefix.empty() || prefix == "xmlns" || AfterPrefix(name) != "nil") {
      continue;
    }
    if (ResolvePrefix(element, prefix) == kXsiNs) {
      const std::string_view value = a.value();
      return value == "true" || value == "1";
    }
  }
  return false;
}

pugi::xml_node ParseRequest(pugi::xml_document& doc, std::string_view body) {
  const pugi::xml_parse_result parsed =
      doc.load_buffer(body.data(), body.size(), pugi::parse_default, pugi::encoding_auto);
  if (!parsed) {
    throw RequestError("XML malformado na posição " + std::to_string(parsed.offset) + ": " +
                       parsed.description());
  }
  const pugi::xml_node envelope = doc.document_element();
  if (LocalName(envelope) != "Envelope" || NamespaceOf(envelope) != kEnvelopeNs) {
    throw RequestError("Envelope SOAP 1.1 esperado.");
  }
  pugi::xml_node body_element;
  for (pugi::xml_node n : Items(envelope)) {
    if (LocalName(n) == "Body" && NamespaceOf(n) == kEnvelopeNs) {
      body_element = n;
      break;
    }
  }
  if (!body_element) {
    throw RequestError("Envelope sem Body.");
  }
  const pugi::xml_node operation = FirstElement(body_element);
  if (!operation) {
    throw RequestError("Body vazio.");
  }
  if (NamespaceOf(operation) != ServiceNs()) {
    throw RequestError("Operação desconhecida: {" + NamespaceOf(operation) + "}" +
                       std::string(LocalName(operation)));
  }
  return operation;
}

pugi::xml_node Param(pugi::xml_node parent, const char* name) {
  for (pugi::xml_node n : Items(parent)) {
    if (LocalName(n) == name && NamespaceOf(n) == ServiceNs()) {
      return n;
    }
  }
  return {};
}

std::string Text(pugi::xml_node element) {
  std::string text;
  for (pugi::xml_node n = element.first_child(); n; n = n.next_sibling()) {
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) {
      text += n.value();
    }
  }
  return text;
}

std::vector<pugi::xml_node> Items(pugi::xml_node array) {
  std::vector<pugi::xml_node> items;
  for (pugi::xml_node n = array.first_child(); n; n = n.next_sibling()) {
    if (n.type() == pugi::node_element) {
      items.push_back(n);
    }
  }
  return items;
}

long long Int64Param(pugi::xml_node operation, const char* name) {
  const pugi::xml_node element = Param(operation, name);
  if (!element || IsNil(element)) {
    return 0;
  }
  std::string text = Text(element);
  const auto first = text.find_first_not_of(" \t\r\n");
  const auto last = text.find_last_not_of(" \t\r\n");
  text = first == std::string::npos ? std::string{} : text.substr(first, last - first + 1);
  long long value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
    throw RequestError("Valor inválido para " + std::string(name) + ": \"" + text + "\"");
  }
  return value;
}

nlohmann::json ArgsToJson(pugi::xml_node operation) {
  nlohmann::json args = nlohmann::json::object();
  for (pugi::xml_node child : Items(operation)) {
    args[std::string(LocalName(child))] = Convert(child);
  }
  return args;
}

ResponseWriter::ResponseWriter(const std::string& operation, WriteOptions options)
    : options_(std::move(options)) {
  pugi::xml_node decl = doc_.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  pugi::xml_node envelope = doc_.append_child("soapenv:Envelope");
  envelope.append_attribute("xmlns:soapenv") = kEnvelopeNs;
  envelope.append_attribute("xmlns:xsi") = kXsiNs;
  pugi::xml_node body = envelope.append_child("soapenv:Body");
  pugi::xml_node response = body.append_child(("ns:" + operation + "Response").c_str());
  response.append_attribute("xmlns:ns") = ServiceNs().c_str();
  return_ = response.append_child("ns:return");
}

pugi::xml_node ResponseWriter::Element(pugi::xml_node parent, const char* name) const {
  return parent.append_child((std::string("ns:") + name).c_str());
}

pugi::xml_node ResponseWriter::Item(pugi::xml_node array, const char* itemName) const {
  return Element(array, options_.itemName.empty() ? itemName : options_.itemName.c_str());
}

void ResponseWriter::String(pugi::xml_node parent, const char* name,
                            const std::string& value) const {
  Element(parent, name).text().set(value.c_str());
}

void ResponseWriter::OptString(pugi::xml_node parent, const char* name,
                               const std::optional<std::string>& value) const {
  if (value) {
    String(parent, name, *value);
  } else {
    Nil(parent, name);
  }
}

void ResponseWriter::Int(pugi::xml_node parent, const char* name, long long value) const {
  Element(parent, name).text().set(value);
}

void ResponseWriter::OptInt(pugi::xml_node parent, const char* name,
                            const std::optional<int>& value) const {
  if (value) {
    Int(parent, name, *value);
  } else {
    Nil(parent, name);
  }
}

void ResponseWriter::Nil(pugi::xml_node parent, const char* name) const {
  Element(parent, name).append_attribute("xsi:nil") = "true";
}

void ResponseWriter::Case(pugi::xml_node parent, const char* name, const pushsim::Case& c) const {
  pugi::xml_node vo = Element(parent, name);
  String(vo, "codOrgao", c.codOrgao);
  String(vo, "codProcesso", c.codProcesso);
  OptString(vo, "codTipoVinculo", c.codTipoVinculo);
  pugi::xml_node historicos = Element(vo, "historicos");
  for (const Movement& m : c.historicos) {
    pugi::xml_node h = Item(historicos, "historicoVO");
    Int(h, "id", m.id);
    String(h, "sdtHistorico", m.time.empty() ? m.date : m.date + " " + m.time);
    String(h, "txtHistorico", m.text);
    pugi::xml_node metas = Element(h, "metas");
    for (const Meta& meta : m.metas) {
      pugi::xml_node mv = Item(metas, "metaVO");
      OptInt(mv, "numInicio", meta.numInicio);
      OptInt(mv, "numFim", meta.numFim);
      String(mv, "tipoMeta", meta.tipoMeta);
      String(mv, "txtValor", meta.txtValor);
    }
  }
  pugi::xml_node partes = Element(vo, "partes");
  for (const Party& p : c.partes) {
    pugi::xml_node pv = Item(partes, "parteVO");
    String(pv, "codParte", p.codParte);
    pugi::xml_node names = Element(pv, "nomParte");
    for (const std::string& n : p.nomParte) {
      Item(names, "string").text().set(n.c_str());
    }
    pugi::xml_node advogados = Element(pv, "advogados");
    for (const Lawyer& a : p.advogados) {
      pugi::xml_node av = Item(advogados, "advogadoVO");
      OptString(av, "nomTitulo", a.nomTitulo);
      String(av, "nomAdvogado", a.nomAdvogado);
      OptString(av, "codOab", a.codOab);
    }
  }
  pugi::xml_node outros = Element(vo, "outros");
  for (const Other& o : c.outros) {
    pugi::xml_node ov = Item(outros, "outroVO");
    String(ov, "codOutro", o.codOutro);
    String(ov, "txtOutro", o.txtOutro);
  }
  OptString(vo, "sdtAudiencia", c.sdtAudiencia);
  OptString(vo, "codOrgaoOriginario", c.codOrgaoOriginario);
  OptString(vo, "codProcessoOriginario", c.codProcessoOriginario);
  OptString(vo, "codProcessoAnt", c.codProcessoAnt);
  OptString(vo, "codProcessoOriginarioAnt", c.codProcessoOriginarioAnt);
  Int(vo, "id", c.id);
}

void ResponseWriter::Notice(pugi::xml_node parent, const char* name,
                            const pushsim::Notice& n) const {
  pugi::xml_node vo = Element(parent, name);
  Int(vo, "id", n.id);
  String(vo, "sdtAviso", n.sdtAviso);
  String(vo, "txtAviso", n.txtAviso);
  String(vo, "codOrgao", n.codOrgao);
  String(vo, "codProcesso", n.codProcesso);
  OptString(vo, "estadoProcesso", n.estadoProcesso);
  String(vo, "tipoAviso", n.tipoAviso);
}

void ResponseWriter::Scope(pugi::xml_node parent, const char* name, const ScopeCourt& s) const {
  pugi::xml_node vo = Element(parent, name);
  String(vo, "codOrgao", s.codOrgao);
  pugi::xml_node types = Element(vo, "tipoProcesso");
  for (const std::string& t : s.tipoProcesso) {
    Item(types, "string").text().set(t.c_str());
  }
}

std::string ResponseWriter::Finish() const {
  std::ostringstream out;
  doc_.save(out, "", pugi::format_raw, pugi::encoding_utf8);
  return out.str();
}

std::string FaultBody(const std::string& faultcode, const std::string& faultstring,
                      const std::string& detail, const std::string& faultactor) {
  pugi::xml_document doc;
  pugi::xml_node decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  pugi::xml_node envelope = doc.append_child("soapenv:Envelope");
  envelope.append_attribute("xmlns:soapenv") = kEnvelopeNs;
  pugi::xml_node fault = envelope.append_child("soapenv:Body").append_child("soapenv:Fault");
  const std::string code =
      faultcode.find(':') == std::string::npos ? "soapenv:" + faultcode : faultcode;
  fault.append_child("faultcode").text().set(code.c_str());
  fault.append_child("faultstring").text().set(faultstring.c_str());
  if (!faultactor.empty()) {
    fault.append_child("faultactor").text().set(faultactor.c_str());
  }
  if (!detail.empty()) {
    fault.append_child("detail").append_child("ns:message").text().set(detail.c_str());
    fault.child("detail").first_child().append_attribute("xmlns:ns") = ServiceNs().c_str();
  }
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw, pugi::encoding_utf8);
  return out.str();
}

}  // namespace pushsim::soap
