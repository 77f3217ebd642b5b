#include "update/rollout.h"

#include "platform/program_folder.h"
#include "platform/state_folder.h"

namespace update {

Verdict Judge(std::uint16_t deviceVersion, std::uint16_t imageVersion, const VersionPolicy& policy) {
  // 0 is what a device shows whose update stopped midway, 0x3FFF an erased one: whatever
  // the numbers say, neither holds a firmware worth keeping.
  if (deviceVersion == 0 || deviceVersion == 0x3FFF) return Verdict::Write;
  if (deviceVersion == imageVersion) return policy.reinstall ? Verdict::Write : Verdict::Skip;
  if (deviceVersion > imageVersion) return policy.allowOlder ? Verdict::Write : Verdict::Refuse;
  return Verdict::Write;
}

bool ReadDataFile(image::ImageSet& images, panel::RunObserver& events,
                  const std::filesystem::path& namedDataFile, const IntegrityPolicy& policy,
                  image::DataFileFacts* facts, std::vector<std::filesystem::path>* lookedIn) {
  const image::DataFileSearch search = image::FindDataFile(namedDataFile);
  if (!search.found && lookedIn) *lookedIn = search.looked;
  if (!images.LoadDataFile(events, search.path)) return false;
  const std::vector<std::uint8_t>& text = images.DataFileText();
  *facts = image::DataFileFacts{};
  facts->path = search.path;
  facts->sha256 = image::Hex(platform::Sha256(text));
  if (policy.check) {
    facts->signatureFile = policy.signatureFile;
    if (facts->signatureFile.empty()) {
      facts->signatureFile = search.path;
      facts->signatureFile += ".minisig";
    }
    std::string signature;
    if (platform::ReadWholeFile(facts->signatureFile, &signature)) {
      facts->signature = image::CheckSignature(text, signature, policy.trusted);
    }
  }
  if (!images.ParseDataFile(events)) {
    events.OnEvent(panel::NoticeRaised{{panel::TextId::DataFileError}});
    return false;
  }
  facts->version = images.ImageVersion();
  facts->checksumErrors = images.Stats().checksumErrors;
  facts->firstBadLine = images.Stats().firstBadLine;
  return true;
}

std::vector<std::string> DataFileLines(const image::DataFileFacts& f) {
  using panel::TextId;
  std::vector<std::string> lines = {
      panel::FormatText(TextId::DataFileFacts, {std::to_string(f.version), f.sha256.substr(0, 16)}),
      f.signature.state == image::SignatureState::Good
          ? panel::FormatText(TextId::DataFileSigned, {f.signature.keyId, f.signature.trustedComment})
          : std::string(panel::Text(TextId::DataFileUnsigned))};
  if (f.checksumErrors > 0) {
    lines.push_back(panel::FormatText(
        TextId::ChecksumCaution, {std::to_string(f.checksumErrors), std::to_string(f.firstBadLine)}));
  }
  return lines;
}

Failure JudgeDataFile(const image::DataFileFacts& facts, const IntegrityPolicy& policy) {
  if (!policy.check) return {};
  switch (facts.signature.state) {
    case image::SignatureState::Good:
      break;
    case image::SignatureState::Unsigned:
      if (policy.requireSignature) return {FailureKind::SignatureMissing, {}};
      break;
    case image::SignatureState::Untrusted:
      return {FailureKind::SignatureUntrusted, {facts.signature.keyId}};
    case image::SignatureState::Bad:
    case image::SignatureState::Malformed:
      return {FailureKind::SignatureBad, {facts.signature.keyId}};
  }
  if (facts.checksumErrors > 0 && policy.unattended && !policy.ignoreChecksums) {
    return {FailureKind::ChecksumErrors,
            {std::to_string(facts.checksumErrors), std::to_string(facts.firstBadLine)}};
  }
  return {};
}

}  // namespace update
