#include <sodium.h>

#include "platform/crypto.h"

namespace platform {
namespace {

// sodium_init is safe to call from many threads and more than once.
bool Ready() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

}  // namespace

Sha256Digest Sha256(std::span<const std::uint8_t> data) {
  Sha256Digest out{};
  if (Ready()) crypto_hash_sha256(out.data(), data.data(), data.size());
  return out;
}

Blake2b512Digest Blake2b512(std::span<const std::uint8_t> data) {
  Blake2b512Digest out{};
  if (Ready()) crypto_generichash(out.data(), out.size(), data.data(), data.size(), nullptr, 0);
  return out;
}

bool VerifyEd25519(const Ed25519Signature& signature, std::span<const std::uint8_t> message,
                   const Ed25519PublicKey& key) {
  return Ready() && crypto_sign_verify_detached(signature.data(), message.data(), message.size(),
                                                key.data()) == 0;
}

}  // namespace platform
