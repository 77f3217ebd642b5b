// The hashes and the signature check the data file's integrity rests on, from a kept
// library (libsodium; on Windows, where Debian carries no libsodium for MinGW, libgcrypt),
// never written here.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace platform {

using Sha256Digest = std::array<std::uint8_t, 32>;
using Blake2b512Digest = std::array<std::uint8_t, 64>;
using Ed25519PublicKey = std::array<std::uint8_t, 32>;
using Ed25519Signature = std::array<std::uint8_t, 64>;

Sha256Digest Sha256(std::span<const std::uint8_t> data);
Blake2b512Digest Blake2b512(std::span<const std::uint8_t> data);
// True when signature is key's Ed25519 signature of message.
bool VerifyEd25519(const Ed25519Signature& signature, std::span<const std::uint8_t> message,
                   const Ed25519PublicKey& key);

}  // namespace platform
