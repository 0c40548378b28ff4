// A case's next hearing: how the service's date and time text reads, past
// hearings, the time of day in the user's regional format, and the one
// automatic appointment of a case.
#include <cstdlib>

#include "ImportFixture.h"
#include "support/Process.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace cau::testing {
namespace {

class AudienciaTest : public ImportFixture {
 protected:
  void SetUp() override {
    ImportFixture::SetUp();
    AddCases({{{"CODPASTA", "3"}, {"CODTRIB", "26"}, {"CHAVEPROC", "1.100"}}});
  }
  // The window with the case 1.100 current.
  TestForm& WithCase() {
    TestForm& form = Ready();
    EXPECT_TRUE(form.ProcessoDao->Locate(26, "1.100"));
    return form;
  }
};

TEST_F(AudienciaTest, ReadingsOfTheHearingText) {
  struct Case {
    std::string when;
    std::string date, time;  // empty: nothing written
    Lines pane;
  };
  const std::string alterada = " Audiência alterada TJSP.1.100 : 10/05/2026";
  const std::string erro = "*Erro atualizando audiência TJSP.1.100   ";
  const std::vector<Case> cases = {
      {"", "", "", {}},
      {"   ", "", "", {}},
      {"2026-05-10", "20260510", "00:00:00", {alterada}},
      {"2026-05-10 14:30", "20260510", "14:30:00", {alterada}},
      {"2026-05-10  9:05:07.25 ", "20260510", "09:05:07", {alterada}},
      {"2026-05-10T14:30", "", "", {erro}},
      {"10/05/2026 14:30", "", "", {erro}},
      {"2026-02-30", "", "", {erro}},
      {"2026-05-10 25:00", "", "", {erro}},
      // Earlier than now, even by a second, is dropped; now itself is written.
      {"2026-04-02 08:59:59", "", "", {}},
      {"2026-04-02", "", "", {}},
      {"2026-04-02 09:00", "20260402", "09:00:00", {" Audiência alterada TJSP.1.100 : 02/04/2026"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("'" + c.when + "'");
    TestForm& form = WithCase();
    form.UpdateHearing("TJSP", "1.100", "", c.when);
    EXPECT_EQ(StepLines(), c.pane);
    Record r = CaseRecord("1.100");
    EXPECT_EQ(r["DTPROXAUD"], c.date);
    EXPECT_EQ(r["HRPROXAUD"], c.time);
    const std::vector<Record> agenda = Records("AGENDA.DBF");
    if (c.date.empty()) {
      EXPECT_TRUE(agenda.empty());
    } else {
      ASSERT_EQ(agenda.size(), 1u);
      EXPECT_EQ(agenda[0], (Record{{"CODPASTA", "3"},
                                   {"CODTRIB", "26"},
                                   {"CHAVEPROC", "1.100"},
                                   {"AUTOMATICO", "*"},
                                   {"DATA", c.date},
                                   {"HORA", c.time},
                                   {"COMPROMISS", "Audiência [PUSH]"}}));
    }
    TearDown();
    SetUp();
  }
}

TEST_F(AudienciaTest, ASecondHearingUpdatesTheSameAppointment) {
  AddAppointments({{{"CODPASTA", "3"},
                    {"CODTRIB", "26"},
                    {"CHAVEPROC", "1.100"},
                    {"DATA", "20260501"},
                    {"HORA", "10:00"},
                    {"COMPROMISS", "Reunião com o cliente"}}});
  TestForm& form = WithCase();
  form.UpdateHearing("TJSP", "1.100", "Conciliação", "2026-05-10 14:30");
  form.UpdateHearing("TJSP", "1.100", "  Instrução  ", "2026-06-20 08:00");
  // A number that is not the current case's writes nothing.
  form.UpdateHearing("TJSP", "1.999", "", "2026-07-01");
  EXPECT_EQ(StepLines(), (Lines{" Audiência alterada TJSP.1.100 : 10/05/2026",
                                " Audiência alterada TJSP.1.100 : 20/06/2026",
                                "*Erro atualizando audiência TJSP.1.999"}));
  Record r = CaseRecord("1.100");
  EXPECT_EQ(r["DTPROXAUD"], "20260620");
  const std::vector<Record> agenda = Records("AGENDA.DBF");
  ASSERT_EQ(agenda.size(), 2u);
  EXPECT_EQ(agenda[0].at("COMPROMISS"), "Reunião com o cliente");  // the user's own, untouched
  EXPECT_EQ(agenda[0].at("DATA"), "20260501");
  EXPECT_EQ(agenda[1].at("AUTOMATICO"), "*");
  EXPECT_EQ(agenda[1].at("DATA"), "20260620");
  EXPECT_EQ(agenda[1].at("HORA"), "08:00:00");
  EXPECT_EQ(agenda[1].at("COMPROMISS"), "Instrução");
}

TEST_F(AudienciaTest, TheTimeOfDayInTheUsersRegionalFormat) {
  // A locale whose long time has a 12-hour clock, built for this test.
  const fs::path locales = root_ / "locales";
  fs::create_directories(locales);
  const test::Finished made = test::RunProcess(
      {"/usr/bin/localedef", "-i", "en_US", "-f", "UTF-8", (locales / "en_US.UTF-8").string()},
      root_);
  if (made.status != 0 || !fs::exists(locales / "en_US.UTF-8"))
    GTEST_SKIP() << "localedef: " << made.err;
  ::setenv("LOCPATH", locales.c_str(), 1);
  ::setenv("LC_ALL", "en_US.UTF-8", 1);
  TestForm& form = WithCase();
  {
#if defined(__SANITIZE_ADDRESS__)
    // glibc keeps the search list that LOCPATH gives newlocale for good.
    __lsan::ScopedDisabler keptByTheCLibrary;
#endif
    form.UpdateHearing("TJSP", "1.100", "", "2026-05-10 14:30:05");
  }
  // The log line keeps day/month/year whatever the regional date order.
  EXPECT_EQ(StepLines(), (Lines{" Audiência alterada TJSP.1.100 : 10/05/2026"}));
  EXPECT_EQ(CaseRecord("1.100")["HRPROXAUD"], "02:30:05 PM");
}

}  // namespace
}  // namespace cau::testing
