// What can be known of a data file before any of it reaches a device: its SHA-256, the
// records whose checksums do not add up, and whether a trusted signer signed it. The
// signatures are minisign's (Ed25519, the file itself or its BLAKE2b-512 hash signed, with a
// trusted comment signed beside it), so that files signed with the minisign program are
// checked here and the other way round; the cryptography is a kept library's
// (platform/crypto.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/crypto.h"

namespace image {

// A public key as minisign writes it: "untrusted comment: ..." and the base64 of "Ed", the
// key id (8 bytes) and the key (32 bytes).
struct PublicKey {
  std::string keyId;  // as minisign prints it: upper-case hex digits, no leading zeros
  std::uint64_t keyNumber = 0;
  platform::Ed25519PublicKey key{};
  std::filesystem::path file;
};
// False for a text that is no minisign public key.
bool ParsePublicKey(const std::string& text, PublicKey* key);

enum class SignatureState {
  Unsigned,   // no signature file
  Good,       // a trusted key's, and it verifies (the trusted comment too)
  Untrusted,  // well formed, by a key that is not trusted
  Bad,        // by a trusted key, and it does not verify: the file or its comment changed
  Malformed,  // the signature file is no minisign signature
};

struct SignatureCheck {
  SignatureState state = SignatureState::Unsigned;
  std::string keyId;           // the signer's, when the file could be read
  std::string trustedComment;  // when Good
};

// Checks minisign signature text over data against the trusted keys.
SignatureCheck CheckSignature(std::span<const std::uint8_t> data, const std::string& signatureText,
                              const std::vector<PublicKey>& trusted);

// Where the trusted keys come from: the files named (each must be a public key), then
// every *.pub in the trusted-keys folder of each settings folder
// (platform::ConfigFolders). A file named that cannot be read or is no key: false, with
// *error naming it; a folder's file that is no key is passed over with a warning.
bool LoadTrustedKeys(const std::vector<std::filesystem::path>& named, std::vector<PublicKey>* keys,
                     std::string* error, std::vector<std::string>* warnings);

// True when the machine's policy (policy.conf in platform::SystemConfigFolder, a line
// "require_signature = true") asks for signed data files.
bool PolicyRequiresSignature();

// The facts of a data file, for the question, the report and the history.
struct DataFileFacts {
  std::filesystem::path path;
  std::string sha256;  // 64 lower-case hex digits
  std::uint16_t version = 0;
  int checksumErrors = 0;
  int firstBadLine = 0;
  std::filesystem::path signatureFile;  // where the signature was looked for
  SignatureCheck signature;
};

// Lower-case hex digits of bytes.
std::string Hex(std::span<const std::uint8_t> bytes);

}  // namespace image
