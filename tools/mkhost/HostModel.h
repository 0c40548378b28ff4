// The contents of a sample host installation, drawn from a seed: the courts,
// the folders and, one at a time, the cases. Nothing here touches a file;
// every case can be made again from its index alone, so the tables can be
// streamed and the scenario can refer to the same cases.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace cau::mkhost {

// A calendar day as a Julian day number (the table engine's dates).
using Day = int32_t;
std::string Ymd(Day day);     // "yyyymmdd"
std::string IsoDay(Day day);  // "yyyy-mm-dd"
std::string DmyDay(Day day);  // "dd/mm/yyyy"

struct Court {
  int code = 0;           // CODTRIB
  std::string shortName;  // nomeReduzido
  std::string name;       // long name (ASCII)
  int segment = 8;        // justice segment digit of the court number
  int region = 1;         // two-digit region of the court number
  bool inScope = true;    // whether the account may monitor it
  std::vector<std::string> types;
};

struct Folder {
  int code = 0;
  std::string name;
  Day created = 0;
};

struct Movement {
  Day day = 0;
  std::string time;  // "hh:nn"; empty: no time of day
  std::string text;  // UTF-8, one line
};

struct Party {
  std::string title;
  std::string names;
};

struct HostCase {
  uint64_t index = 0;
  int codPasta = 0;
  int codTrib = 0;
  std::string number;  // CHAVEPROC: kind + "." + court number
  std::string estado;  // "", "0", "1", "2", "3", "5"
  bool suspenso = false;
  bool duplicate = false;  // same court and number as an earlier case
  std::string visto;       // "T", "F" or empty
  bool hasTramita = false;
  std::vector<Movement> movements;  // newest first
  bool hasOutros = false;
  bool outrosHeaderLower = false;   // header written in other letter case
  std::vector<std::string> outros;  // lines after the header
  bool hasAnotacao = false;
  std::vector<std::string> notes;  // lines after the header
  Day hearing = 0;
  std::string hearingTime;
  std::string hearingKind;  // "Audiência de conciliação" ...
  bool automaticAppointment = false;
  std::array<Party, 3> parties;
  Day inicioCob = 0;
  Day ultCons = 0;
  std::string hrUltCons;
  Day distrib = 0;
  double valorCausa = 0;
  std::string vara;
  std::string cliente;
  std::vector<std::string> userAppointments;  // descriptions of the user's own
  bool queued = false;                        // a PushAux row names it
};

struct HostPlan {
  uint64_t seed = 1;
  uint64_t cases = 0;
  Day today = 0;
  std::vector<Court> courts;
  std::vector<Folder> folders;
};

HostPlan MakePlan(uint64_t seed, uint64_t cases, int courts);
HostCase MakeCase(const HostPlan& plan, uint64_t index);

// "%4d%4d%-100s" of folder, court and the number with a..z upper-cased.
std::string RecordKey(int codPasta, int codTrib, const std::string& number);
// The memo texts in the host format (UTF-8, CR LF after every line).
std::string TramitaText(const HostCase& c);
std::string OutrosText(const HostCase& c);
std::string AnotacaoText(const HostCase& c);

// A court-style number "NNNNNNN-DD.YYYY.J.TR.OOOO" with its check digits.
std::string CourtNumber(uint32_t sequence, int year, int segment, int region, int origin);

}  // namespace cau::mkhost
