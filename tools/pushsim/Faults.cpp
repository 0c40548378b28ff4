#include "Faults.h"

#include <charconv>

namespace pushsim {
namespace {

int ToInt(const std::string& text, const std::string& where) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
    throw FaultRuleError(where + ": \"" + text + "\" is not an integer");
  }
  return value;
}

void CheckRule(const FaultRule& rule, const std::string& where) {
  if (rule.status && (*rule.status < 100 || *rule.status > 599)) {
    throw FaultRuleError(where + ": status must lie between 100 and 599");
  }
  if (rule.delayMs < 0 || rule.skip < 0 || (rule.times && *rule.times < 0) ||
      (rule.oversize && *rule.oversize < 0)) {
    throw FaultRuleError(where + ": delay, skip, times and oversize must not be negative");
  }
}

}  // namespace

FaultRule FaultFromJson(const nlohmann::json& j, const std::string& where) {
  if (!j.is_object()) {
    throw FaultRuleError(where + ": an object is expected");
  }
  FaultRule rule;
  try {
    for (const auto& [key, value] : j.items()) {
      if (key == "fault") {
        rule.fault = value.get<std::string>();
      } else if (key == "faultcode") {
        rule.faultcode = value.get<std::string>();
      } else if (key == "detail") {
        rule.detail = value.get<std::string>();
      } else if (key == "status") {
        rule.status = value.get<int>();
      } else if (key == "delay") {
        rule.delayMs = value.get<int>();
      } else if (key == "close") {
        rule.close = value.get<bool>();
      } else if (key == "malformed") {
        rule.malformed = value.get<bool>();
      } else if (key == "truncated") {
        rule.truncated = value.get<bool>();
      } else if (key == "items") {
        rule.items = value.get<std::string>();
      } else if (key == "oversize") {
        rule.oversize = value.get<long long>();
      } else if (key == "skip") {
        rule.skip = value.get<int>();
      } else if (key == "times") {
        rule.times = value.get<int>();
      } else {
        throw FaultRuleError(where + ": unknown key \"" + key + "\"");
      }
    }
  } catch (const nlohmann::json::exception& e) {
    throw FaultRuleError(where + ": wrong type of value (" + e.what() + ")");
  }
  CheckRule(rule, where);
  return rule;
}

std::pair<std::string, FaultRule> FaultFromArgument(const std::string& argument) {
  const auto colon = argument.find(':');
  if (colon == std::string::npos || colon == 0) {
    throw FaultRuleError("--fault " + argument + ": expected OPERATION:KEY[=VALUE],...");
  }
  const std::string operation = argument.substr(0, colon);
  const std::string where = "--fault " + argument;
  FaultRule rule;
  std::size_t start = colon + 1;
  while (start <= argument.size()) {
    auto comma = argument.find(',', start);
    if (comma == std::string::npos) {
      comma = argument.size();
    }
    const std::string item = argument.substr(start, comma - start);
    start = comma + 1;
    if (item.empty()) {
      continue;
    }
    const auto eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const bool hasValue = eq != std::string::npos;
    const std::string value = hasValue ? item.substr(eq + 1) : std::string{};
    if (key == "fault") {
      rule.fault = hasValue ? value : "Falha simulada.";
    } else if (key == "faultcode") {
      rule.faultcode = value;
    } else if (key == "detail") {
      rule.detail = value;
    } else if (key == "status") {
      rule.status = ToInt(value, where);
    } else if (key == "delay") {
      rule.delayMs = ToInt(value, where);
    } else if (key == "close") {
      rule.close = true;
    } else if (key == "malformed") {
      rule.malformed = true;
    } else if (key == "truncated") {
      rule.truncated = true;
    } else if (key == "items") {
      rule.items = hasValue ? value : "item";
    } else if (key == "oversize") {
      long long bytes = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), bytes);
      if (value.empty() || ec != std::errc() || end != value.data() + value.size()) {
        throw FaultRuleError(where + ": oversize needs a byte count");
      }
      rule.oversize = bytes;
    } else if (key == "skip") {
      rule.skip = ToInt(value, where);
    } else if (key == "times") {
      rule.times = ToInt(value, where);
    } else {
      throw FaultRuleError(where + ": unknown key \"" + key + "\"");
    }
  }
  CheckRule(rule, where);
  return {operation, rule};
}

void FaultPlan::Set(const std::string& operation, FaultRule rule) {
  std::lock_guard lock(mutex_);
  entries_[operation] = Entry{std::move(rule), 0};
}

void FaultPlan::SetAll(const nlohmann::json& faultsByOperation) {
  for (const auto& [operation, rule] : faultsByOperation.items()) {
    Set(operation, FaultFromJson(rule, "faults." + operation));
  }
}

std::optional<FaultRule> FaultPlan::Next(const std::string& operation) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(operation);
  if (it == entries_.end()) {
    it = entries_.find("*");
  }
  if (it == entries_.end()) {
    return std::nullopt;
  }
  Entry& entry = it->second;
  const int call = entry.calls++;
  if (call < entry.rule.skip) {
    return std::nullopt;
  }
  if (entry.rule.times && call >= entry.rule.skip + *entry.rule.times) {
    return std::nullopt;
  }
  return entry.rule;
}

}  // namespace pushsim
