#include "Faults.h"

#include <charconv>

namespace pushsim {
namespace {

int ToInt(const std::string& text, const std::string& where) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
    throw FaultSpecError(where + ": \"" + text + "\" is not an integer");
  }
  return value;
}

void CheckSpec(const FaultSpec& spec, const std::string& where) {
  if (spec.status && (*spec.status < 100 || *spec.status > 599)) {
    throw FaultSpecError(where + ": status must lie between 100 and 599");
  }
  if (spec.delayMs < 0 || spec.skip < 0 || (spec.times && *spec.times < 0) ||
      (spec.oversize && *spec.oversize < 0)) {
    throw FaultSpecError(where + ": delay, skip, times and oversize must not be negative");
  }
}

}  // namespace

FaultSpec FaultFromJson(const nlohmann::json& j, const std::string& where) {
  if (!j.is_object()) {
    throw FaultSpecError(where + ": an object is expected");
  }
  FaultSpec spec;
  try {
    for (const auto& [key, value] : j.items()) {
      if (key == "fault") {
        spec.fault = value.get<std::string>();
      } else if (key == "faultcode") {
        spec.faultcode = value.get<std::string>();
      } else if (key == "detail") {
        spec.detail = value.get<std::string>();
      } else if (key == "status") {
        spec.status = value.get<int>();
      } else if (key == "delay") {
        spec.delayMs = value.get<int>();
      } else if (key == "close") {
        spec.close = value.get<bool>();
      } else if (key == "malformed") {
        spec.malformed = value.get<bool>();
      } else if (key == "truncated") {
        spec.truncated = value.get<bool>();
      } else if (key == "items") {
        spec.items = value.get<std::string>();
      } else if (key == "oversize") {
        spec.oversize = value.get<long long>();
      } else if (key == "skip") {
        spec.skip = value.get<int>();
      } else if (key == "times") {
        spec.times = value.get<int>();
      } else {
        throw FaultSpecError(where + ": unknown key \"" + key + "\"");
      }
    }
  } catch (const nlohmann::json::exception& e) {
    throw FaultSpecError(where + ": wrong type of value (" + e.what() + ")");
  }
  CheckSpec(spec, where);
  return spec;
}

std::pair<std::string, FaultSpec> FaultFromArgument(const std::string& argument) {
  const auto colon = argument.find(':');
  if (colon == std::string::npos || colon == 0) {
    throw FaultSpecError("--fault " + argument + ": expected OPERATION:KEY[=VALUE],...");
  }
  const std::string operation = argument.substr(0, colon);
  const std::string where = "--fault " + argument;
  FaultSpec spec;
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
      spec.fault = hasValue ? value : "Falha simulada.";
    } else if (key == "faultcode") {
      spec.faultcode = value;
    } else if (key == "detail") {
      spec.detail = value;
    } else if (key == "status") {
      spec.status = ToInt(value, where);
    } else if (key == "delay") {
      spec.delayMs = ToInt(value, where);
    } else if (key == "close") {
      spec.close = true;
    } else if (key == "malformed") {
      spec.malformed = true;
    } else if (key == "truncated") {
      spec.truncated = true;
    } else if (key == "items") {
      spec.items = hasValue ? value : "item";
    } else if (key == "oversize") {
      long long bytes = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), bytes);
      if (value.empty() || ec != std::errc() || end != value.data() + value.size()) {
        throw FaultSpecError(where + ": oversize needs a byte count");
      }
      spec.oversize = bytes;
    } else if (key == "skip") {
      spec.skip = ToInt(value, where);
    } else if (key == "times") {
      spec.times = ToInt(value, where);
    } else {
      throw FaultSpecError(where + ": unknown key \"" + key + "\"");
    }
  }
  CheckSpec(spec, where);
  return {operation, spec};
}

void FaultPlan::Set(const std::string& operation, FaultSpec spec) {
  std::lock_guard lock(mutex_);
  entries_[operation] = Entry{std::move(spec), 0};
}

void FaultPlan::SetAll(const nlohmann::json& faultsByOperation) {
  for (const auto& [operation, spec] : faultsByOperation.items()) {
    Set(operation, FaultFromJson(spec, "faults." + operation));
  }
}

std::optional<FaultSpec> FaultPlan::Next(const std::string& operation) {
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
  if (call < entry.spec.skip) {
    return std::nullopt;
  }
  if (entry.spec.times && call >= entry.spec.skip + *entry.spec.times) {
    return std::nullopt;
  }
  return entry.spec;
}

}  // namespace pushsim
