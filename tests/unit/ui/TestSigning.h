// Signs downloads with the private half of the key that builds without a
// key of their own verify updates against.
#pragma once

#include <string>
#include <string_view>

namespace cau::test {

// The base64 Ed25519 signature of `data`.
std::string SignWithTestKey(std::string_view data);

}  // namespace cau::test
