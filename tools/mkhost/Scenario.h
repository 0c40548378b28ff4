// A pushsim scenario that matches a sample host: the account, the scope, the
// service's side of some host cases (movements, hearings, parties), cases of
// the lawyer's bar registration that the host lacks, and notices of every kind.
#pragma once

#include <nlohmann/json.hpp>

#include "HostModel.h"
#include "HostWriter.h"

namespace cau::mkhost {

// `busyCases` 0: a small sample (up to 200 host cases). Otherwise a busy day
// for benchmarks: that many monitored cases with movements, spread evenly
// over the host's table (topped up with bar-registration cases the host
// lacks when it has too few), a hearing notice for every tenth and a state
// notice for every twentieth.
nlohmann::ordered_json MakeScenario(const HostPlan& plan, const Credentials& credentials,
                                    uint64_t busyCases = 0);

}  // namespace cau::mkhost
