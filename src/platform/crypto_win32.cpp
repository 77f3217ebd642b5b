#include <gcrypt.h>

#include <cstring>
#include <mutex>

#include "platform/crypto.h"

namespace platform {
namespace {

bool Ready() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] {
    ready = gcry_check_version(GCRYPT_VERSION) != nullptr;
    if (ready) gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  });
  return ready;
}

template <std::size_t N>
std::array<std::uint8_t, N> Digest(int algorithm, std::span<const std::uint8_t> data) {
  std::array<std::uint8_t, N> out{};
  if (Ready()) gcry_md_hash_buffer(algorithm, out.data(), data.data(), data.size());
  return out;
}

}  // namespace

Sha256Digest Sha256(std::span<const std::uint8_t> data) {
  return Digest<32>(GCRY_MD_SHA256, data);
}

Blake2b512Digest Blake2b512(std::span<const std::uint8_t> data) {
  return Digest<64>(GCRY_MD_BLAKE2B_512, data);
}

bool VerifyEd25519(const Ed25519Signature& signature, std::span<const std::uint8_t> message,
                   const Ed25519PublicKey& key) {
  if (!Ready()) return false;
  gcry_sexp_t pub = nullptr, sig = nullptr, msg = nullptr;
  bool ok =
      gcry_sexp_build(&pub, nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                      static_cast<int>(key.size()), key.data()) == 0 &&
      gcry_sexp_build(&sig, nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32, signature.data(), 32,
                      signature.data() + 32) == 0 &&
      gcry_sexp_build(&msg, nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                      static_cast<int>(message.size()), message.data()) == 0;
  ok = ok && gcry_pk_verify(sig, msg, pub) == 0;
  gcry_sexp_release(pub);
  gcry_sexp_release(sig);
  gcry_sexp_release(msg);
  return ok;
}

}  // namespace platform
