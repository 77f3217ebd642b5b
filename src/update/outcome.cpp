#include "update/outcome.h"

#include <array>

namespace update {
namespace {

using panel::TextId;

struct KindInfo {
  FailureKind kind;
  const char* code;
  TextId reason;
};

// In the order of FailureKind; the codes are what reports and the history keep, so they
// never change once published.
constexpr KindInfo kKinds[] = {
    {FailureKind::None, "", TextId::Count},
    {FailureKind::DataFileUnreadable, "data_file_unreadable", TextId::ReasonDataFile},
    {FailureKind::AddressMissing, "address_missing", TextId::ReasonAddressMissing},
    {FailureKind::XPortSocket, "xport_socket_failed", TextId::ReasonXPortSocket},
    {FailureKind::XPortPortTaken, "xport_port_taken", TextId::ReasonXPortPortTaken},
    {FailureKind::XPortSendFailed, "xport_send_failed", TextId::ReasonXPortSend},
    {FailureKind::XPortNoReply, "xport_no_reply", TextId::ReasonXPortNoReply},
    {FailureKind::XPortRefusedChange, "xport_refused_change", TextId::ReasonXPortRefused},
    {FailureKind::RecordNotSaved, "record_not_saved", TextId::ReasonRecordNotSaved},
    {FailureKind::XPortStateUnknown, "xport_state_unknown", TextId::ReasonXPortStateUnknown},
    {FailureKind::SocketLayer, "socket_layer_failed", TextId::ReasonSocketLayer},
    {FailureKind::PortMissing, "port_missing", TextId::ReasonPortMissing},
    {FailureKind::SocketFailed, "socket_failed", TextId::ReasonSocketFailed},
    {FailureKind::ConnectFailed, "connect_failed", TextId::ReasonConnectFailed},
    {FailureKind::ConnectTimedOut, "connect_timed_out", TextId::ReasonConnectTimedOut},
    {FailureKind::DeviceTimedOut, "device_timed_out", TextId::ReasonDeviceTimedOut},
    {FailureKind::DeviceWaitFailed, "device_wait_failed", TextId::ReasonDeviceWaitFailed},
    {FailureKind::SendFailed, "send_failed", TextId::ReasonSendFailed},
    {FailureKind::ReceiveFailed, "receive_failed", TextId::ReasonReceiveFailed},
    {FailureKind::WrongDevice, "wrong_device", TextId::ReasonWrongDevice},
    {FailureKind::NoUpdateMode, "no_update_mode", TextId::ReasonNoUpdateMode},
    {FailureKind::UnlistedModel, "unlisted_model", TextId::ReasonUnlistedModel},
    {FailureKind::VersionClearFailed, "version_clear_failed", TextId::ReasonVersionClear},
    {FailureKind::BlockWriteFailed, "block_write_failed", TextId::ReasonBlockWrite},
    {FailureKind::BulkWriteFailed, "bulk_write_failed", TextId::ReasonBulkWrite},
    {FailureKind::VerifyFailed, "verification_failed", TextId::ReasonVerify},
    {FailureKind::VersionWriteFailed, "version_write_failed", TextId::ReasonVersionWrite},
    {FailureKind::Interrupted, "interrupted", TextId::ReasonInterrupted},
    {FailureKind::NotStarted, "not_started", TextId::ReasonNotStarted},
    {FailureKind::SignatureBad, "signature_bad", TextId::ReasonSignatureBad},
    {FailureKind::SignatureUntrusted, "signature_untrusted", TextId::ReasonSignatureUntrusted},
    {FailureKind::SignatureMissing, "signature_missing", TextId::ReasonSignatureMissing},
    {FailureKind::ChecksumErrors, "checksum_errors", TextId::ReasonChecksums},
};

constexpr bool EveryKindInItsPlace() {
  if (std::size(kKinds) != static_cast<std::size_t>(FailureKind::Count)) return false;
  for (std::size_t i = 0; i < std::size(kKinds); ++i) {
    if (static_cast<std::size_t>(kKinds[i].kind) != i) return false;
  }
  return true;
}
static_assert(EveryKindInItsPlace(), "one entry per failure kind, in the kinds' order");

const KindInfo& Info(FailureKind kind) {
  return kKinds[static_cast<std::size_t>(kind)];
}

}  // namespace

const char* ResultName(Result result) {
  switch (result) {
    case Result::Updated:
      return "updated";
    case Result::Failed:
      return "failed";
    case Result::Declined:
      return "declined";
    case Result::Interrupted:
      return "interrupted";
    case Result::Skipped:
      return "skipped";
    case Result::Refused:
      return "refused";
    case Result::NotStarted:
      return "not_started";
    case Result::WouldUpdate:
      break;
  }
  return "would_update";
}

panel::TextId ResultText(Result result) {
  switch (result) {
    case Result::Updated:
      return TextId::ResultUpdated;
    case Result::Failed:
      return TextId::ResultFailed;
    case Result::Declined:
      return TextId::ResultDeclined;
    case Result::Interrupted:
      return TextId::ResultInterrupted;
    case Result::Skipped:
      return TextId::ResultSkipped;
    case Result::Refused:
      return TextId::ResultRefused;
    case Result::NotStarted:
      return TextId::ResultNotStarted;
    case Result::WouldUpdate:
      break;
  }
  return TextId::ResultWouldUpdate;
}

const char* ReasonCode(FailureKind kind) {
  return Info(kind).code;
}

FailureKind FailureKindNamed(const std::string& code) {
  for (const KindInfo& k : kKinds) {
    if (k.kind != FailureKind::None && code == k.code) return k.kind;
  }
  return FailureKind::None;
}

panel::Message ReasonMessage(const Failure& failure) {
  panel::Message m{Info(failure.kind).reason, {}};
  for (const std::string& a : failure.args) m.args.emplace_back(a);
  return m;
}

std::string ReasonText(const Failure& failure, panel::Language language) {
  if (failure.kind == FailureKind::None) return {};
  return panel::Render(ReasonMessage(failure), language);
}

std::string ReasonText(const Failure& failure) {
  return ReasonText(failure, panel::CurrentLanguage());
}

std::optional<int> Outcome::VersionAfter() const {
  if (result == Result::Updated) return imageVersion;
  if (writeStarted) return 0;
  if (identity) return identity->ReportedVersion;
  return std::nullopt;
}

}  // namespace update
