// A pushsim scenario that matches a sample host: the account, the scope, the
// service's side of some host cases (movements, hearings, parties), cases of
// the lawyer's bar registration that the host lacks, and notices of every kind.
#pragma once

#include <nlohmann/json.hpp>

#include "HostModel.h"
#include "HostWriter.h"

namespace cau::mkhost {

nlohmann::ordered_json MakeScenario(const HostPlan& plan, const Credentials& credentials);

}  // namespace cau::mkhost
