#include "TestSigning.h"

#include <sodium.h>

#include <array>
#include <stdexcept>

namespace cau::test {

std::string SignWithTestKey(std::string_view data) {
  if (sodium_init() < 0)
    throw std::runtime_error("libsodium did not start");
  constexpr std::string_view kSeedHex =
      "7a1b9ef9223c96d65c29b7be34ac44e28b2334f00e45b1186bd6f32838ccd0da";
  std::array<unsigned char, crypto_sign_SEEDBYTES> seed{};
  sodium_hex2bin(seed.data(), seed.size(), kSeedHex.data(), kSeedHex.size(), nullptr, nullptr,
                 nullptr);
  std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> pk{};
  std::array<unsigned char, crypto_sign_SECRETKEYBYTES> sk{};
  crypto_sign_seed_keypair(pk.data(), sk.data(), seed.data());
  std::array<unsigned char, crypto_sign_BYTES> signature{};
  crypto_sign_detached(signature.data(), nullptr,
                       reinterpret_cast<const unsigned char*>(data.data()), data.size(), sk.data());
  std::string text(sodium_base64_ENCODED_LEN(signature.size(), sodium_base64_VARIANT_ORIGINAL),
                   '\0');
  sodium_bin2base64(text.data(), text.size(), signature.data(), signature.size(),
                    sodium_base64_VARIANT_ORIGINAL);
  text.resize(text.find('\0'));
  return text;
}

}  // namespace cau::test
