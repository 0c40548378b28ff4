// Downloads of a new version are signed by the maker: the check answer
// carries "assinatura=" + the base64 Ed25519 signature of the file.
#pragma once

#include <string>
#include <string_view>

namespace cau {

// The public key (64 hex digits) that signs this build's updates: the
// build's setting, or the tests' key when the build names none.
std::string UpdatePublicKey();

// True when `signatureBase64` is a valid Ed25519 signature of `data` made
// with the private half of `publicKeyHex`. Anything malformed is false.
bool VerifyUpdateSignature(std::string_view data, std::string_view signatureBase64,
                           std::string_view publicKeyHex);

// What the version check's answer says.
struct UpdateAnswer {
  std::string url;        // the download address; empty: no newer version
  std::string signature;  // the "assinatura=" value before the address; may be empty
};

// Reads the check's body: the address is everything after the first
// "novaVersaoUrl=", trimmed; the signature is the rest of a line of the text
// before it that begins with "assinatura=".
UpdateAnswer ParseUpdateAnswer(std::string_view body);

}  // namespace cau
