#include "ui/UpdateSignature.h"

#include <sodium.h>

#include <array>
#include <vector>

#include "BuildInfo.h"
#include "config/Utils.h"

namespace cau {

namespace {

// Used when the build sets no key; its private half lives in the tests only.
constexpr std::string_view kTestKey =
    "b0636ed175601e88b0cc69dbb0e392d368e150045557456750472a82f9c821d9";

bool SodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

}  // namespace

std::string UpdatePublicKey() {
  constexpr std::string_view built = CAU_UPDATE_PUBKEY;
  return std::string(built.empty() ? kTestKey : built);
}

bool VerifyUpdateSignature(std::string_view data, std::string_view signatureBase64,
                           std::string_view publicKeyHex) {
  if (!SodiumReady())
    return false;
  std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> key{};
  std::size_t keyLength = 0;
  const char* keyEnd = nullptr;
  if (sodium_hex2bin(key.data(), key.size(), publicKeyHex.data(), publicKeyHex.size(), nullptr,
                     &keyLength, &keyEnd) != 0 ||
      keyLength != key.size() || keyEnd != publicKeyHex.data() + publicKeyHex.size())
    return false;

  std::array<unsigned char, crypto_sign_BYTES> signature{};
  std::size_t signatureLength = 0;
  const char* signatureEnd = nullptr;
  if (sodium_base642bin(signature.data(), signature.size(), signatureBase64.data(),
                        signatureBase64.size(), nullptr, &signatureLength, &signatureEnd,
                        sodium_base64_VARIANT_ORIGINAL) != 0 ||
      signatureLength != signature.size() ||
      signatureEnd != signatureBase64.data() + signatureBase64.size())
    return false;

  return crypto_sign_verify_detached(signature.data(),
                                     reinterpret_cast<const unsigned char*>(data.data()),
                                     data.size(), key.data()) == 0;
}

UpdateAnswer ParseUpdateAnswer(std::string_view body) {
  constexpr std::string_view kUrlKey = "novaVersaoUrl=";
  constexpr std::string_view kSignatureKey = "assinatura=";
  UpdateAnswer answer;
  answer.url = TextAfter(body, kUrlKey);
  const std::size_t keyAt = body.find(kUrlKey);
  const std::string_view before = body.substr(0, keyAt == std::string_view::npos ? 0 : keyAt);
  std::size_t start = 0;
  while (start < before.size()) {
    std::size_t end = before.find('\n', start);
    if (end == std::string_view::npos)
      end = before.size();
    const std::string line = Trim(before.substr(start, end - start));
    if (line.starts_with(kSignatureKey)) {
      answer.signature = Trim(std::string_view(line).substr(kSignatureKey.size()));
      break;
    }
    start = end + 1;
  }
  return answer;
}

}  // namespace cau
