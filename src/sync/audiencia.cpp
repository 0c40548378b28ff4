// A case's next hearing: into the current case record and into the case's
// automatic appointment. Hearings already past are dropped.
#include <langinfo.h>
#include <locale.h>

#include <cstdio>
#include <ctime>
#include <exception>
#include <string>
#include <tuple>

#include "app/atualizaPush.h"
#include "config/Errors.h"
#include "config/Utils.h"
#include "config/cauPushCfg.h"

namespace cau {

namespace {

constexpr std::string_view kDefaultDescription = "Audiência [PUSH]";

// The user's locale for times, from the environment (LC_ALL, LC_TIME, LANG);
// the program's own locale is left alone.
class TimeLocale {
 public:
  TimeLocale() : locale_(newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0))) {
    if (locale_ == static_cast<locale_t>(0))
      locale_ = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
  }
  ~TimeLocale() {
    if (locale_ != static_cast<locale_t>(0))
      freelocale(locale_);
  }
  TimeLocale(const TimeLocale&) = delete;
  TimeLocale& operator=(const TimeLocale&) = delete;

  // The time of day in the locale's own format (T_FMT).
  std::string LongTime(const LocalTime& t) const {
    std::tm tm{};
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_mday = 1;
    tm.tm_year = 100;
    char text[64];
    std::size_t n = 0;
    if (locale_ != static_cast<locale_t>(0)) {
      const char* format = nl_langinfo_l(T_FMT, locale_);
      n = strftime_l(text, sizeof text, format && *format ? format : "%H:%M:%S", &tm, locale_);
    } else {
      n = std::strftime(text, sizeof text, "%H:%M:%S", &tm);
    }
    return std::string(text, n);
  }

 private:
  locale_t locale_;
};

bool Before(const LocalTime& a, const LocalTime& b) {
  return std::tie(a.year, a.month, a.day, a.hour, a.minute, a.second, a.millisecond) <
         std::tie(b.year, b.month, b.day, b.hour, b.minute, b.second, b.millisecond);
}

std::string Digits(int value, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*d", width, value);
  return text;
}

}  // namespace

void TfrmAtualizaPush::UpdateHearing(const std::string& orgao, const std::string& processo,
                                     const std::string& descricao, const std::string& quando) {
  if (Trim(quando).empty())
    return;
  const std::string which = orgao + "." + processo;
  std::string date, time;
  try {
    if (!ProcessoDao || !AgendaDao)
      throw Error("Tabelas do banco não abertas.");
    db::TProcessoDao& caso = *ProcessoDao;
    if (caso.ChaveProc() != processo) {
      AddErro("Erro atualizando audiência " + which);
      return;
    }
    const auto hearing = ParseServerStamp(quando);
    if (!hearing)
      throw Error("data ilegível: " + quando);
    if (Before(*hearing, clock_->NowLocal()))
      return;

    date = Digits(hearing->year, 4) + Digits(hearing->month, 2) + Digits(hearing->day, 2);
    time = TimeLocale().LongTime(*hearing);
    const std::string description =
        Trim(descricao).empty() ? std::string(kDefaultDescription) : descricao;

    caso.SetProxAudiencia(date, time);
    if (!AgendaDao->SaveAutomatic(caso.CodTrib(), caso.CodPasta(), description, time, date,
                                  caso.ChaveProc()))
      throw Error(AgendaDao->LastError());
    AddLog(" Audiência alterada " + which + " : " + Digits(hearing->day, 2) + "/" +
           Digits(hearing->month, 2) + "/" + Digits(hearing->year, 4));
  } catch (const std::exception&) {
    AddErro("Erro atualizando audiência " + which + "  " + date + " " + time);
  }
}

}  // namespace cau
