// Responses as different SOAP stacks write them.
#include <string>

#include <gtest/gtest.h>

#include "config/Errors.h"
#include "service/SoapCodec.h"

namespace cau::soap {
namespace {

constexpr const char* kEnv = "http://schemas.xmlsoap.org/soap/envelope/";

// An envelope with prefix "soapenv" around `body`.
std::string Soapenv(const std::string& body) {
  return std::string(
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<soapenv:Envelope "
             "xmlns:soapenv=\"") +
         kEnv + "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n <soapenv:Body>\n" +
         body + "\n </soapenv:Body>\n</soapenv:Envelope>";
}

TEST(Response, PrefixedOperationElementWithOneReturnChild) {
  const auto id = ReadResponse<std::string>(
      Soapenv("<ns1:loginResponse xmlns:ns1=\"http://push.vexo.example/PushService\">"
              "<ns1:loginReturn>ABC-123</ns1:loginReturn></ns1:loginResponse>"));
  EXPECT_EQ(id, "ABC-123");
}

TEST(Response, DefaultNamespacesItemsNamedItemNilAndMissingFields) {
  const auto avisos = ReadResponse<ArrayOfAvisoVO>(
      "<Envelope xmlns=\"http://schemas.xmlsoap.org/soap/envelope/\">"
      "<Header><Session xmlns=\"urn:x\">1</Session></Header><Body>"
      "<avisosNResponse xmlns=\"http://push.vexo.example/PushService\" "
      "xmlns:i=\"http://www.w3.org/2001/XMLSchema-instance\"><avisosNReturn>\n"
      "  <item><id>7</id><sdtAviso>2024-04-02 08:00:00</sdtAviso><txtAviso> dois  espaços "
      "</txtAviso><codOrgao>TJSP</codOrgao><codProcesso>123</codProcesso>"
      "<estadoProcesso i:nil=\"true\"/><tipoAviso>ALERTA</tipoAviso><extra>x</extra></item>\n"
      "  <item><id>8</id><estadoProcesso>CADASTRADO</estadoProcesso>"
      "<tipoAviso>\n URL \n</tipoAviso></item>\n"
      "  <item i:nil=\"true\"/>\n"
      "</avisosNReturn></avisosNResponse></Body></Envelope>");
  ASSERT_EQ(avisos.size(), 2u);
  EXPECT_EQ(avisos[0].id, 7);
  EXPECT_EQ(avisos[0].sdtAviso, "2024-04-02 08:00:00");
  EXPECT_EQ(avisos[0].txtAviso, " dois  espaços ");
  EXPECT_EQ(avisos[0].estadoProcesso, EstadoProcesso::EM_CADASTRAMENTO);
  EXPECT_EQ(avisos[0].tipoAviso, TipoAviso::ALERTA);
  EXPECT_EQ(avisos[1].id, 8);
  EXPECT_EQ(avisos[1].sdtAviso, "");
  EXPECT_EQ(avisos[1].codProcesso, "");
  EXPECT_EQ(avisos[1].estadoProcesso, EstadoProcesso::CADASTRADO);
  EXPECT_EQ(avisos[1].tipoAviso, TipoAviso::URL);
}

TEST(Response, NestedCaseWithNilArraysUrlMetaAndOtherItemNames) {
  const auto casos = ReadResponse<ArrayOfProcessoVO>(
      Soapenv("<p:historicosNResponse xmlns:p=\"http://push.vexo.example/PushService\">"
              "<p:historicosNReturn><p:processoVO><p:codOrgao>TJSP</p:codOrgao>"
              "<p:codProcesso>0001</p:codProcesso><p:historicos>"
              "<p:h><p:id>5</p:id><p:txtHistorico><![CDATA[a <b> & c]]></p:txtHistorico><p:metas>"
              "<p:m><p:numInicio xsi:nil=\"true\"/><p:tipoMeta>URL</p:tipoMeta>"
              "<p:txtValor>http://a</p:txtValor></p:m><p:m><p:tipoMeta>URL2</p:tipoMeta></p:m>"
              "</p:metas></p:h></p:historicos>"
              "<p:partes><p:parteVO><p:codParte>REU</p:codParte><p:nomParte><p:item>Ana</p:item>"
              "<p:item/></p:nomParte><p:advogados xsi:nil=\"true\"/></p:parteVO></p:partes>"
              "<p:outros xsi:nil=\"true\"/><p:sdtAudiencia xsi:nil=\"1\"/><p:id>+12</p:id>"
              "</p:processoVO></p:historicosNReturn></p:historicosNResponse>"));
  ASSERT_EQ(casos.size(), 1u);
  const auto& p = casos[0];
  EXPECT_EQ(p.codProcesso, "0001");
  EXPECT_EQ(p.id, 12);
  EXPECT_EQ(p.sdtAudiencia, "");
  EXPECT_TRUE(p.outros.empty());
  ASSERT_EQ(p.historicos.size(), 1u);
  EXPECT_EQ(p.historicos[0].txtHistorico, "a <b> & c");
  ASSERT_EQ(p.historicos[0].metas.size(), 2u);
  EXPECT_EQ(p.historicos[0].metas[0].numInicio, 0);
  EXPECT_EQ(p.historicos[0].metas[0].tipoMeta, TipoMeta::URL2);
  EXPECT_EQ(p.historicos[0].metas[1].tipoMeta, TipoMeta::URL2);
  ASSERT_EQ(p.partes.size(), 1u);
  EXPECT_EQ(p.partes[0].nomParte, (ArrayOfstring{"Ana", ""}));
  EXPECT_TRUE(p.partes[0].advogados.empty());
}

TEST(Response, SeveralChildrenPickTheReturnOrResultOne) {
  for (const char* name : {"return", "RESULT", "Result"}) {
    SCOPED_TRACE(name);
    const auto counters = ReadResponse<AvisoLogoutVO>(
        Soapenv(std::string("<logoutResponse xmlns=\"urn:ns\"><note>x</note><") + name +
                "><sdtAviso>2024-04-30 23:59:59</sdtAviso><numProcessos>17</numProcessos>"
                "<numProcessosMes>20</numProcessosMes></" +
                name + "><other><numProcessos>1</numProcessos></other></logoutResponse>"));
    EXPECT_EQ(counters.sdtAviso, "2024-04-30 23:59:59");
    EXPECT_EQ(counters.numProcessos, 17);
    EXPECT_EQ(counters.numProcessosMes, 20);
  }
}

TEST(Response, EmptyResponseElementAndNilResultReadAsZeroValues) {
  EXPECT_TRUE(ReadResponse<ArrayOfEscopoVO>(Soapenv("<escopoNResponse/>")).empty());
  EXPECT_EQ(ReadResponse<std::string>(
                Soapenv("<r><loginReturn xsi:nil=\"true\">ignored</loginReturn></r>")),
            "");
  // "nil" under a prefix that is not the schema-instance namespace is data.
  const auto scope = ReadResponse<ArrayOfEscopoVO>(
      Soapenv("<r xmlns:o=\"urn:other\"><ret><escopoVO o:nil=\"true\"><codOrgao>TRT2</codOrgao>"
              "<tipoProcesso><string>A</string><string>B</string></tipoProcesso>"
              "</escopoVO></ret></r>"));
  ASSERT_EQ(scope.size(), 1u);
  EXPECT_EQ(scope[0].codOrgao, "TRT2");
  EXPECT_EQ(scope[0].tipoProcesso, (ArrayOfstring{"A", "B"}));
}

TEST(Response, TextOutsideTheCodePageIsReducedOnArrival) {
  EXPECT_EQ(ReadResponse<std::string>(Soapenv("<r><x>€ ação 日本 \xF0\x9F\x98\x80</x></r>")),
            "€ ação ?? ?");
}

TEST(Response, FaultCarriesFaultstringAndKeepsTheOtherParts) {
  try {
    ReadResponse<std::string>(
        "<S:Envelope xmlns:S=\"http://schemas.xmlsoap.org/soap/envelope/\"><S:Body>"
        "<S:Fault><faultcode>S:Server</faultcode><faultstring>Credencial inválida 日</faultstring>"
        "<faultactor>urn:auth</faultactor><detail><code xmlns=\"urn:e\">41</code></detail>"
        "</S:Fault></S:Body></S:Envelope>");
    FAIL() << "no fault";
  } catch (const SoapFault& f) {
    EXPECT_STREQ(f.what(), "Credencial inválida ?");
    EXPECT_EQ(f.faultcode(), "S:Server");
    EXPECT_EQ(f.faultactor(), "urn:auth");
    EXPECT_EQ(f.detail(), "<code xmlns=\"urn:e\">41</code>");
  }
  try {
    ReadResponse<std::string>(
        Soapenv("<soapenv:Fault><faultcode>x:Client</faultcode>"
                "</soapenv:Fault>"));
    FAIL() << "no fault";
  } catch (const SoapFault& f) {
    EXPECT_NE(std::string(f.what()).find("x:Client"), std::string::npos) << f.what();
  }
}

TEST(Response, MalformedAnswersAreBadResponses) {
  const char* cases[] = {
      "",
      "not xml at all",
      "<html><body>Proxy error</body></html>",
      "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\"><e:Body><r/></e:Body>"
      "</e:Envelope>",
      "<Envelope><Body><r><x>1</x></r></Body></Envelope>",
      "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"/>",
      "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body/></e:Envelope>",
      "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body><r><x>1</x>",
  };
  for (const char* body : cases) {
    SCOPED_TRACE(body);
    EXPECT_THROW(ReadResponse<std::string>(body), BadResponse);
  }
}

TEST(Response, UnreadableValuesNameWhatWasWrong) {
  struct Case {
    std::string body;
    std::string expected;
  };
  const Case cases[] = {
      {Soapenv("<r><a><avisoVO><id>12x</id></avisoVO></a></r>"), "12x"},
      {Soapenv("<r><a><avisoVO><id>99999999999</id></avisoVO></a></r>"), "99999999999"},
      {Soapenv("<r><a><avisoVO><tipoAviso>NOVO</tipoAviso></avisoVO></a></r>"), "NOVO"},
      {Soapenv("<r><a><avisoVO><id/></avisoVO></a></r>"), "<id>"},
      {Soapenv("<r><x>1</x><y>2</y></r>"), "nenhum resultado"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    try {
      ReadResponse<ArrayOfAvisoVO>(c.body);
      ADD_FAILURE() << "accepted";
    } catch (const BadResponse& e) {
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace cau::soap
