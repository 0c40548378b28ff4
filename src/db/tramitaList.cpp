#include "db/tramitaList.h"

#include <algorithm>

#include "config/Cp1252.h"
#include "config/Utils.h"

namespace cau::db {
namespace {

// Characters `from` (1-based) to `from + count - 1` of an ASCII key, as many as there are.
std::string_view Part(std::string_view s, std::size_t from, std::size_t count) {
  if (from < 1 || from > s.size())
    return {};
  return s.substr(from - 1, count);
}

std::string_view NameOf(std::string_view line) {
  return line.substr(0, line.find('='));
}

bool IsDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "9:05" and "9:5" become "09:05"; any other form is kept as it is.
std::string PadTime(const std::string& time) {
  std::size_t colon = time.find(':');
  if (colon == std::string::npos)
    return time;
  std::string_view h = std::string_view(time).substr(0, colon);
  std::string_view m = std::string_view(time).substr(colon + 1);
  if (!IsDigits(h) || !IsDigits(m) || h.size() > 2 || m.size() > 2)
    return time;
  return std::string(2 - h.size(), '0') + std::string(h) + ":" + std::string(2 - m.size(), '0') +
         std::string(m);
}

// What a key holds of a time: "hh:nn" or "hhnn", digits only.
bool FitsKey(std::string_view time) {
  if (time.size() == 5 && time[2] == ':')
    return IsDigits(time.substr(0, 2)) && IsDigits(time.substr(3));
  return time.size() == 4 && IsDigits(time);
}

std::string OneLine(std::string_view text) {
  std::string s(text);
  std::replace_if(
      s.begin(), s.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return s;
}

}  // namespace

std::string RecordKey(int32_t codPasta, int32_t codTrib, std::string_view chaveProc) {
  auto right4 = [](int32_t n) {
    std::string s = std::to_string(n);
    return s.size() < 4 ? std::string(4 - s.size(), ' ') + s : s;
  };
  std::string number = text::UpperAscii(chaveProc);
  std::size_t chars = text::CharCount(number);
  if (chars < 100)
    number.append(100 - chars, ' ');
  return right4(codPasta) + right4(codTrib) + number;
}

void TTramitaList::Clear() {
  lines_.clear();
  folded_.clear();
}

void TTramitaList::AddEntry(std::string_view date, std::string_view time, std::string_view text,
                            bool ordered) {
  std::string day = Trim(NormalizeDate(date));
  if (day == "erro")
    return;
  std::string hour = PadTime(Trim(time));
  std::string body = Trim(OneLine(text));
  if (body.empty())
    return;
  // Empty, or written otherwise ("949", "14h05"): the movement keeps its
  // date alone, so that its key stays yyyymmddhhnn and renders back the same.
  if (!FitsKey(hour))
    hour = "0000";
  std::string dateKey = DateToKey(day);
  if (dateKey.empty() || dateKey == "erro")
    return;  // a date the key cannot hold must not become the newest movement
  std::string key = dateKey + RemoveAll(hour, ":");
  std::string line = key + "=" + body;
  if (!folded_.insert(text::UpperCp1252(line)).second)
    return;
  auto at = lines_.end();
  if (ordered) {
    at = std::find_if(lines_.begin(), lines_.end(),
                      [&](const std::string& entry) { return NameOf(entry) < key; });
  }
  lines_.insert(at, std::move(line));
  added_ = true;
}

void TTramitaList::LoadText(std::string_view text) {
  Clear();
  std::string date, time, pending, lastDate;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos)
      end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end;
    if (pos < text.size())  // CR LF, a lone CR or a lone LF
      pos += text.compare(pos, 2, "\r\n") == 0 ? 2 : 1;

    std::size_t eq = line.find('=');
    std::string_view value = eq == std::string_view::npos ? line : line.substr(eq + 1);
    std::string_view prefix = line.substr(0, 3);
    if (prefix == "Dt_") {
      lastDate = Trim(value);
      if (lastDate.empty())
        continue;
      if (!pending.empty())
        AddEntry(date, time, pending, false);
      pending.clear();
      time.clear();
      date = lastDate;
    } else if (prefix == "Hr_") {
      time = value;
    } else if (prefix == "Txt") {
      if (!lastDate.empty())
        pending = value;
      else
        pending += "<br/>" + std::string(value);
    }
  }
  if (!pending.empty())
    AddEntry(date, time.empty() ? "00:00" : time, pending, false);
  added_ = false;
}

std::string TTramitaList::RenderText(int32_t codPasta, int32_t codTrib,
                                     std::string_view chaveProc) const {
  std::string out = "chave= " + RecordKey(codPasta, codTrib, chaveProc) + "&Tramita\r\n";
  int n = 0;
  for (const std::string& entry : lines_) {
    std::string num = std::to_string(++n);
    std::string_view k = NameOf(entry);
    std::string day = std::string(Part(k, 7, 2)) + "/" + std::string(Part(k, 5, 2)) + "/" +
                      std::string(Part(k, 1, 4));
    std::string hour = std::string(Part(k, 9, 2)) + ":" + std::string(Part(k, 11, 2));
    out += "Dt_" + num + "=" + day + "\r\n";
    if (hour != "00:00")
      out += "Hr_" + num + "=" + hour + "\r\n";
    out += "Txt_" + num + "=" + Trim(std::string_view(entry).substr(k.size() + 1)) + "\r\n";
  }
  return out;
}

std::string TTramitaList::NewestKey() const {
  return lines_.empty() ? std::string() : std::string(NameOf(lines_.front()));
}

}  // namespace cau::db
