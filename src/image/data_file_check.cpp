#include "image/data_file_check.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "panel/text_catalog.h"
#include "platform/program_folder.h"
#include "platform/state_folder.h"
#include "platform/user_environment.h"

namespace image {
namespace {

constexpr std::size_t kKeyBytes = 2 + 8 + 32;
constexpr std::size_t kSignatureBytes = 2 + 8 + 64;
constexpr const char* kUntrusted = "untrusted comment:";
constexpr const char* kTrusted = "trusted comment: ";

// Standard base64 with padding, as minisign writes it; false on anything else.
bool FromBase64(const std::string& text, std::vector<std::uint8_t>* out) {
  static const std::string digits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.empty() || text.size() % 4 != 0) return false;
  out->clear();
  for (std::size_t i = 0; i < text.size(); i += 4) {
    std::uint32_t v = 0;
    int pad = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      if (c == '=' && i + 4 == text.size() && k >= 2) {
        ++pad;
        v <<= 6;
        continue;
      }
      const std::size_t d = digits.find(c);
      if (d == std::string::npos || pad > 0) return false;
      v = v << 6 | static_cast<std::uint32_t>(d);
    }
    out->push_back(static_cast<std::uint8_t>(v >> 16));
    if (pad < 2) out->push_back(static_cast<std::uint8_t>(v >> 8));
    if (pad < 1) out->push_back(static_cast<std::uint8_t>(v));
  }
  return true;
}

// The text's lines without their line ends (CR LF too).
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    at = end + 1;
  }
  return lines;
}

std::uint64_t LittleEndian64(const std::uint8_t* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

// As minisign prints it: upper-case hex without leading zeros.
std::string KeyIdText(std::uint64_t number) {
  char text[24];
  std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(number));
  return text;
}

}  // namespace

std::string Hex(std::span<const std::uint8_t> bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

bool ParsePublicKey(const std::string& text, PublicKey* key) {
  const std::vector<std::string> lines = Lines(text);
  // The key's line is the first one that is not a comment.
  for (const std::string& line : lines) {
    if (line.empty() || line.rfind(kUntrusted, 0) == 0) continue;
    std::vector<std::uint8_t> bytes;
    if (!FromBase64(line, &bytes) || bytes.size() != kKeyBytes || bytes[0] != 'E' ||
        bytes[1] != 'd') {
      return false;
    }
    key->keyNumber = LittleEndian64(bytes.data() + 2);
    key->keyId = KeyIdText(key->keyNumber);
    std::copy_n(bytes.begin() + 10, key->key.size(), key->key.begin());
    return true;
  }
  return false;
}

SignatureCheck CheckSignature(std::span<const std::uint8_t> data, const std::string& signatureText,
                              const std::vector<PublicKey>& trusted) {
  SignatureCheck check;
  check.state = SignatureState::Malformed;
  const std::vector<std::string> lines = Lines(signatureText);
  if (lines.size() < 4 || lines[0].rfind(kUntrusted, 0) != 0 || lines[2].rfind(kTrusted, 0) != 0) {
    return check;
  }
  std::vector<std::uint8_t> sig, global;
  if (!FromBase64(lines[1], &sig) || sig.size() != kSignatureBytes ||
      !FromBase64(lines[3], &global) || global.size() != 64 || sig[0] != 'E' ||
      (sig[1] != 'd' && sig[1] != 'D')) {
    return check;
  }
  const bool prehashed = sig[1] == 'D';
  const std::uint64_t keyNumber = LittleEndian64(sig.data() + 2);
  check.keyId = KeyIdText(keyNumber);
  const auto key = std::find_if(trusted.begin(), trusted.end(),
                                [&](const PublicKey& k) { return k.keyNumber == keyNumber; });
  if (key == trusted.end()) {
    check.state = SignatureState::Untrusted;
    return check;
  }
  platform::Ed25519Signature signature;
  std::copy_n(sig.begin() + 10, signature.size(), signature.begin());
  const platform::Blake2b512Digest hashed = prehashed ? platform::Blake2b512(data)
                                                      : platform::Blake2b512Digest{};
  const std::span<const std::uint8_t> message = prehashed ? std::span<const std::uint8_t>(hashed)
                                                          : data;
  // The trusted comment is signed together with the signature itself.
  const std::string comment = lines[2].substr(std::strlen(kTrusted));
  std::vector<std::uint8_t> withComment(signature.begin(), signature.end());
  withComment.insert(withComment.end(), comment.begin(), comment.end());
  platform::Ed25519Signature globalSignature;
  std::copy_n(global.begin(), globalSignature.size(), globalSignature.begin());
  if (!platform::VerifyEd25519(signature, message, key->key) ||
      !platform::VerifyEd25519(globalSignature, withComment, key->key)) {
    check.state = SignatureState::Bad;
    return check;
  }
  check.state = SignatureState::Good;
  check.trustedComment = comment;
  return check;
}

bool LoadTrustedKeys(const std::vector<std::filesystem::path>& named, std::vector<PublicKey>* keys,
                     std::string* error, std::vector<std::string>* warnings) {
  for (const std::filesystem::path& file : named) {
    std::string text;
    PublicKey key;
    if (!platform::ReadWholeFile(file, &text) || !ParsePublicKey(text, &key)) {
      *error = panel::FormatText(panel::TextId::BadTrustedKey, {platform::PathToUtf8(file)});
      return false;
    }
    key.file = file;
    keys->push_back(key);
  }
  for (const std::filesystem::path& folder : platform::ConfigFolders()) {
    const std::filesystem::path dir = folder / "trusted-keys";
    std::error_code ec;
    std::vector<std::filesystem::path> files;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      if (it->path().extension() == ".pub") files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    for (const std::filesystem::path& file : files) {
      std::string text;
      PublicKey key;
      if (!platform::ReadWholeFile(file, &text) || !ParsePublicKey(text, &key)) {
        warnings->push_back(
            panel::FormatText(panel::TextId::BadTrustedKey, {platform::PathToUtf8(file)}));
        continue;
      }
      key.file = file;
      keys->push_back(key);
    }
  }
  return true;
}

bool PolicyRequiresSignature() {
  const std::filesystem::path folder = platform::SystemConfigFolder();
  std::string text;
  if (folder.empty() || !platform::ReadWholeFile(folder / "policy.conf", &text)) return false;
  for (std::string line : Lines(text)) {
    line.erase(std::remove_if(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; }),
               line.end());
    if (line == "require_signature=true") return true;
  }
  return false;
}

}  // namespace image
