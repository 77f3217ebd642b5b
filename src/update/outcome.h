// What a run came to, as a value: the result, why it failed (a kind from a fixed list,
// with a stable name for programs and a text for people), and the facts a report needs.
// Texts are made from it at the edge, in the reader's language; nothing reads a notice to
// learn what happened.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "image/data_file_check.h"
#include "panel/device_identity.h"
#include "panel/events.h"
#include "xport/wire.h"

namespace update {

enum class Result {
  Updated,      // written and verified, version word last
  Failed,       // see the failure
  Declined,     // the operator answered No
  Interrupted,  // a stop request ended it
  Skipped,      // already at the data file's version (a batch's version policy)
  Refused,      // newer than the data file (a batch's version policy)
  NotStarted,   // never written: a canary failed or the failure limit was reached
  WouldUpdate,  // a dry run's verdict
};
// "updated", "failed", ... as reports and the history keep them.
const char* ResultName(Result result);
// The result as the operator reads it.
panel::TextId ResultText(Result result);

// Why a run failed: the first error it met, named by the exchange that failed.
enum class FailureKind {
  None,
  DataFileUnreadable,  // the data file could not be read or parsed
  AddressMissing,      // no device address
  XPortSocket,         // no UDP socket for the XPort's exchanges
  XPortPortTaken,      // local UDP port 10001 could not be bound
  XPortSendFailed,     // a datagram to the XPort could not be sent
  XPortNoReply,        // the XPort did not answer its info or setup-record query
  XPortRefusedChange,  // the XPort refused the changed settings
  RecordNotSaved,      // the XPort's original settings could not be saved first
  XPortStateUnknown,   // the change's answer was lost and the XPort could not be asked again
  SocketLayer,         // the sockets layer could not be started
  PortMissing,         // no TCP port: none given and the XPort's LocalPort is 0
  SocketFailed,        // the TCP socket could not be created
  ConnectFailed,       // the device's TCP port refused the connection (args: the error)
  ConnectTimedOut,     // the device's TCP port never answered the connection
  DeviceTimedOut,      // the device fell silent
  DeviceWaitFailed,    // waiting for the device failed
  SendFailed,          // sending to the device failed (args: the error)
  ReceiveFailed,       // receiving from the device failed (args: the error)
  WrongDevice,         // something else answered the identify request
  NoUpdateMode,        // no identify reply: the device is not in update mode
  UnlistedModel,       // a model this program does not know (args: the code)
  VersionClearFailed,  // the version block was not cleared
  BlockWriteFailed,    // a single block was not written (block: its word address)
  BulkWriteFailed,     // the bulk write ended early or its last echo was incomplete
  VerifyFailed,        // the echoed words differ from the data file's
  VersionWriteFailed,  // the version block was not written
  Interrupted,         // a stop request ended the run
  NotStarted,          // a batch never started this device
  SignatureBad,        // the data file's signature does not verify (args: the key id)
  SignatureUntrusted,  // the data file is signed by a key that is not trusted (args: key id)
  SignatureMissing,    // a signature is required and the data file has none
  ChecksumErrors,      // records with wrong checksums, unattended (args: count, first line)
  Count
};

// "device_timed_out": the stable name programs read (reports, history).
const char* ReasonCode(FailureKind kind);
// The kind that a stable name names; None for a name that is none of them.
FailureKind FailureKindNamed(const std::string& code);

struct Failure {
  FailureKind kind = FailureKind::None;
  std::vector<std::string> args{};  // the values its text shows
  bool operator==(const Failure&) const = default;
};
// The failure as a reason reads, in the current language or the one given.
panel::Message ReasonMessage(const Failure& failure);
std::string ReasonText(const Failure& failure);
std::string ReasonText(const Failure& failure, panel::Language language);

struct Outcome {
  Result result = Result::Failed;
  Failure failure{};          // why, when the result is Failed (or Interrupted)
  bool interrupted = false;   // a stop request ended the run early
  bool dataFileRead = false;  // the images were there for the procedure
  std::optional<xport::Mac> mac{};           // the XPort's, when it told it
  std::optional<int> port{};                 // the TCP port connected to, or tried
  std::optional<device::DeviceIdentity> identity{};  // when identified
  std::uint16_t imageVersion = 0;
  bool writeStarted = false;    // the version block was cleared: version 0 unless completed
  bool xportOverridden = false;  // the XPort took this run's changed settings
  bool xportRestored = false;    // and its own record back
  bool xportAdopted = false;     // the original restored was one an earlier run left behind
  std::optional<std::filesystem::path> savedRecord{};  // the original, still on disk
  // Every place the data file was looked for, when none of them held one.
  std::vector<std::filesystem::path> dataFileLookedIn{};
  // What was known of the data file, once it was read.
  std::optional<image::DataFileFacts> dataFile{};

  // The version word the device holds as far as the run knows: the new one when updated;
  // 0 once the writing began and did not complete; the old one when it was not written;
  // none when it was never identified.
  std::optional<int> VersionAfter() const;
};

}  // namespace update
