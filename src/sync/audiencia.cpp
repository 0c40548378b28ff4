// Not yet available: does nothing, so a run walks its step and goes on.
#include "app/atualizaPush.h"

namespace cau {

void TfrmAtualizaPush::UpdateHearing(const std::string&, const std::string&, const std::string&,
                                     const std::string&) {}

}  // namespace cau
