#include "update/update_procedure.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/program_folder.h"
#include "platform/socket.h"
#include "platform/state_folder.h"
#include "update/rollout.h"

namespace update {
namespace {

using panel::Caption;
using panel::TextId;
using Mark = panel::VersionLineChanged::Mark;

constexpr int kBulkStartWord = 0x304;
constexpr int kBulkBlocks = 1855;
// A bulk echo counts as complete with this many of its 18 bytes (its data end at byte 15).
constexpr int kEchoCompleteAt = 16;
constexpr int kBulkRange = 14840;  // bytes of the bulk range, 8 per block
constexpr int kFirstSingleBlock = 0x26C;
constexpr int kSingleBlocks[] = {0x290, 0x294, 0x298, 0x29C};
constexpr int kVersionWord = 0x300;

}  // namespace

UpdateSession::UpdateSession(panel::RunObserver& events, platform::Sleeper& sleeper,
                             SessionOptions options)
    : events_(events),
      sleeper_(sleeper),
      xport_(events),
      link_(events, xport_),
      protocol_(link_, images_, sleeper),
      options_(options) {
  xport_.UseLocalAddress(options.localAddress);
  xport_.SetReplyWaitMs(options.replyWaitMs);
  link_.UseLocalAddress(options.localAddress);
  link_.SetReceiveWaitMs(options.receiveWaitMs);
  link_.SetConnectWaitMs(options.connectWaitMs);
}

UpdateSession::~UpdateSession() {
  // A run begun and never finished still owes its device the leave command and its XPort
  // the restore.
  if (runOpen_) FinishRun(false);
}

void UpdateSession::UseStopFlag(const std::atomic<bool>* stop) {
  stop_ = stop;
  link_.UseStopFlag(stop);
}

void UpdateSession::Status(TextId id, int dots, int echoed) {
  Emit(panel::StatusChanged{id, dots, echoed});
}

void UpdateSession::Stage(panel::Stage stage) {
  Emit(panel::StageChanged{stage});
}

void UpdateSession::Notice(panel::Message message, Caption caption) {
  Emit(panel::NoticeRaised{std::move(message), caption, panel::NoticeStyle::Plain});
}

void UpdateSession::Fail(FailureKind kind, std::vector<std::string> args) {
  result_ = false;
  if (outcome_.failure.kind == FailureKind::None) outcome_.failure = {kind, std::move(args)};
}

void UpdateSession::FailFromLink() {
  const int code = link_.FailureCode();
  switch (link_.Failure()) {
    case device::LinkFailure::None:
      return;
    case device::LinkFailure::AddressMissing:
      return Fail(FailureKind::AddressMissing);
    case device::LinkFailure::PortMissing:
      return Fail(FailureKind::PortMissing);
    case device::LinkFailure::SocketLayer:
      return Fail(FailureKind::SocketLayer, {std::to_string(code)});
    case device::LinkFailure::Socket:
      return Fail(FailureKind::SocketFailed);
    case device::LinkFailure::Connect:
      return Fail(FailureKind::ConnectFailed, {std::to_string(code)});
    case device::LinkFailure::ConnectTimedOut:
      return Fail(FailureKind::ConnectTimedOut, {std::to_string(code)});
    case device::LinkFailure::TimedOut:
      return Fail(FailureKind::DeviceTimedOut);
    case device::LinkFailure::WaitFailed:
      return Fail(FailureKind::DeviceWaitFailed);
    case device::LinkFailure::Send:
      return Fail(FailureKind::SendFailed, {std::to_string(code)});
    case device::LinkFailure::Receive:
      return Fail(FailureKind::ReceiveFailed, {std::to_string(code)});
  }
}

void UpdateSession::FailFromXPort() {
  switch (xport_.LastFailure()) {
    case xport::ExchangeFailure::Open:
      return Fail(FailureKind::XPortSocket);
    case xport::ExchangeFailure::Bind:
      return Fail(FailureKind::XPortPortTaken);
    case xport::ExchangeFailure::Send:
      return Fail(FailureKind::XPortSendFailed);
    case xport::ExchangeFailure::NoReply:
    case xport::ExchangeFailure::None:
      return Fail(FailureKind::XPortNoReply);
  }
}

// A stop request ends the run at the next block; the caller goes on to the clean-up.
bool UpdateSession::StopHere() {
  if (!StopRequested()) return false;
  outcome_.interrupted = true;
  result_ = false;
  return true;
}

bool UpdateSession::BeginRun(const device::Target& target) {
  if (runOpen_) FinishRun(false);
  overrideFlag_ = false;
  adopted_ = false;
  savedRecordPath_.clear();
  outcome_ = Outcome{};
  outcome_.dataFileRead = images_.HasImages();
  outcome_.imageVersion = images_.ImageVersion();
  outcome_.port = target.port;
  identified_ = Identified{};
  result_ = true;
  Emit(panel::ProgressReset{kBulkRange, 8});
  Emit(panel::IdentityCleared{});
  Status(TextId::Connecting);
  Stage(panel::Stage::Preparing);

  if (!device::DeviceLink::ReadAddressInput(target)) {
    Fail(FailureKind::AddressMissing);
    Notice({TextId::EnterAddress}, Caption::None);
  } else {
    xport_.UseAddress(*target.address);
    if (!StopHere() && XPortStage() && !StopHere() && DeviceStage(target)) {
      runOpen_ = true;
      Stage(panel::Stage::Awaiting);
      return true;
    }
  }
  CleanUp();
  return false;
}

bool UpdateSession::XPortStage() {
  Stage(panel::Stage::XPort);
  if (!xport_.QueryXPortInfo()) {
    FailFromXPort();
    Notice({TextId::NoInformation});
    return false;
  }
  outcome_.mac = xport_.MacAddress();
  if (!xport_.QuerySetupRecord()) {
    FailFromXPort();
    Notice({TextId::NoInformation});
    return false;
  }
  original_ = xport_.SetupRecord();
  AdoptSavedRecords();
  if (StopHere()) return false;
  if (!xport_.NeedsOverride()) return true;
  return ChangeSettings();
}

// The XPort's settings changed for the time of the update, its original safe on disk first.
bool UpdateSession::ChangeSettings() {
  xport_.BuildOverrideRecord();
  if (!adopted_ && !SaveOriginalRecord()) return false;
  Notice({TextId::OverrideNotice}, Caption::Caution);
  Status(TextId::XPortSetting);
  if (xport_.SendSetupRecord(xport_.SetRecord().data(), xport::kRecordSize)) {
    WaitWithDots();
  } else if (xport_.LastFailure() != xport::ExchangeFailure::NoReply) {
    // The XPort answered No, or nothing could be sent: it kept its own record.
    FailFromXPort();
    ForgetSavedRecord();
    Notice({TextId::OverrideRefused});
    return false;
  } else {
    // Silence is not a refusal: the XPort may have taken the record and lost its answer.
    // What it holds now decides.
    const int changed = XPortHolds(xport::OverrideRecordOf(original_));
    if (changed == 0 && XPortHolds(original_) == 1) {
      Fail(FailureKind::XPortRefusedChange);
      ForgetSavedRecord();
      Notice({TextId::OverrideRefused});
      return false;
    }
    if (changed < 0) {
      // Nobody can tell: the original stays on disk, and the operator is told how to put
      // it back.
      Fail(FailureKind::XPortStateUnknown);
      Notice({TextId::ReasonXPortStateUnknown});
      TellHowToRestore();
      return false;
    }
    // It holds the changed settings (or at least not its own): it restarts as after an
    // answered change.
    WaitWithDots();
  }
  overrideFlag_ = true;
  outcome_.xportOverridden = true;
  return true;
}

int UpdateSession::XPortHolds(const xport::SetupRecordBytes& record) {
  for (int attempt = 1; attempt <= kXPortAttempts; ++attempt) {
    if (xport_.QuerySetupRecord()) {
      return std::equal(record.begin() + 4, record.end(), xport_.SetupRecord().begin() + 4) ? 1 : 0;
    }
    if (attempt < kXPortAttempts) sleeper_.SleepMs(kXPortStepMs);
  }
  return -1;
}

bool UpdateSession::DeviceStage(const device::Target& target) {
  Stage(panel::Stage::Identifying);
  const int opened = link_.OpenDeviceLink(target);
  if (link_.PortUsed() != 0) outcome_.port = link_.PortUsed();
  if (!opened) {
    FailFromLink();
    return false;
  }
  Status(TextId::Linked);
  // A peer that has not said it is the device is never sent the leave command.
  if (StopHere()) return false;
  if (!protocol_.Identify()) {
    FailFromLink();
    const int code = protocol_.Identity().ModelCode;
    if (code == device::kModelWrongDevice) {
      Fail(FailureKind::WrongDevice);
      Notice({TextId::WrongDevice});
    } else if (code == device::kModelNoReply) {
      Fail(FailureKind::NoUpdateMode);
      Notice({TextId::NoBootMode});
    } else {
      Fail(FailureKind::UnlistedModel, {device::ModelCodeHex(code)});
    }
    return false;
  }
  outcome_.identity = protocol_.Identity();
  identified_.mac = xport_.MacAddress();
  identified_.port = link_.PortUsed();
  identified_.identity = protocol_.Identity();
  identified_.imageVersion = images_.ImageVersion();
  Emit(panel::IdentityShown{protocol_.Identity()});
  Status(TextId::FirmWriteMode);
  Emit(VersionLine(Mark::None));
  return true;
}

panel::VersionLineChanged UpdateSession::VersionLine(Mark mark) const {
  return {protocol_.Identity().ReportedVersion, images_.ImageVersion(), mark};
}

panel::Question UpdateSession::ConfirmationQuestion() const {
  const device::ModelInfo* model = device::FindModel(identified_.identity.ModelCode);
  const panel::VersionLineChanged line = VersionLine(Mark::None);
  panel::Message m{TextId::ConfirmQuestion,
                   {xport::FormatMac(identified_.mac), std::string(model ? model->questionLine : ""),
                    panel::VersionLineText(line),
                    model ? model->caution : TextId::CautionIoExtension}};
  return {std::move(m), Caption::Confirm};
}

const Outcome& UpdateSession::FinishRun(bool yes) {
  if (!runOpen_) return outcome_;
  runOpen_ = false;
  if (StopHere()) yes = false;  // also when the stop is why the answer was No
  if (!yes) {
    Status(TextId::Processing);
    result_ = false;
  } else {
    Stage(panel::Stage::Writing);
    WriteAndVerify();
    Emit(VersionLine(result_ ? Mark::Written : Mark::NotWritten));
  }
  LeaveBootModeStep();
  if (!yes && !outcome_.interrupted) outcome_.result = Result::Declined;
  CleanUp();
  return outcome_;
}

void UpdateSession::BlockFailure(FailureKind kind, panel::Message text,
                                 std::vector<std::string> args) {
  FailFromLink();
  Fail(kind, std::move(args));
  Notice(std::move(text));
  Status(TextId::Processing);
}

// Clears the version block, writes the single blocks and the bulk range, verifies and
// writes the version block last; a failure ends the writing with the result 0.
void UpdateSession::WriteAndVerify() {
  if (StopHere()) return;
  outcome_.writeStarted = true;
  if (!protocol_.ClearVersionBlock())
    return BlockFailure(FailureKind::VersionClearFailed, {TextId::VersionClearError});
  if (StopHere()) return;
  if (!protocol_.WriteBlock(kFirstSingleBlock))
    return BlockFailure(FailureKind::BlockWriteFailed, {TextId::FirstBlockWriteError}, {"026C"});
  for (int a : kSingleBlocks) {
    if (StopHere()) return;
    if (!protocol_.WriteBlock(a)) {
      char digits[8];
      std::snprintf(digits, sizeof digits, "%04x", static_cast<unsigned>(a));
      return BlockFailure(FailureKind::BlockWriteFailed, {TextId::BlockWriteError, {digits}},
                          {digits});
    }
  }
  if (StopHere()) return;
  protocol_.StartBulkWrite(kBulkStartWord);
  Status(TextId::Writing);
  bool allBlocksSent = false;
  const device::EchoReply last = BulkWrite(&allBlocksSent);
  Emit(panel::ProgressSet{0});
  if (StopHere()) {
    // Stopped inside the announced range, the device would take the leave command for
    // block data and never answer it: the link is closed instead.
    if (!allBlocksSent) link_.CloseDeviceLink();
    return;
  }

  if (!link_.ConnectedFlag() || last[device::kEchoEndAt] != 'E') {
    FailFromLink();
    Fail(FailureKind::BulkWriteFailed);
    Notice({TextId::BulkFailed}, Caption::Program);
    Status(TextId::WriteFailed);
    return;
  }
  Stage(panel::Stage::Verifying);
  Status(TextId::Verifying);
  if (!VerifyReadback(events_, static_cast<int>(image::kBulkFirstByte),
                      static_cast<int>(image::kBulkEndByte), images_.FirmwareImage(),
                      images_.ReadbackImage())) {
    Fail(FailureKind::VerifyFailed);
    Notice({TextId::VerifyError}, Caption::Program);
    Status(TextId::WriteFailed);
    return;
  }
  if (StopHere()) return;
  if (!protocol_.WriteBlock(kVersionWord))
    return BlockFailure(FailureKind::VersionWriteFailed, {TextId::VersionWriteError});
  Notice({TextId::WriteComplete}, Caption::Program);
  Status(TextId::WriteDone);
}

// The 1,855 data blocks of the bulk range, stop-and-wait. An echo counts as complete at 16
// bytes (byte 16 is judged only for the last block, after the loop), so the next block
// goes out without waiting for bytes 16 and 17. Those still belong to their echo: they are
// taken from the stream before the next echo's first byte, and the last echo's are awaited
// after the loop, so that a late tail is never read as the head of the next echo, of the
// version block's echo or of the leave reply. Returns the reply buffer as the last block
// left it; *allSent tells whether every block went out.
device::EchoReply UpdateSession::BulkWrite(bool* allSent) {
  device::EchoReply reply{};
  const image::ImageBuffer& image = images_.FirmwareImage();
  image::ImageBuffer& readback = images_.ReadbackImage();
  int echoCount = 0;
  int count = 0;  // bytes of the current echo gathered
  int owed = 0;   // bytes of the echo before still to come
  bool stop = false;

  for (int k = 0; k < kBulkBlocks; ++k) {
    const std::size_t p = image::kBulkFirstByte + 8 * static_cast<std::size_t>(k);
    device::DataBlock block;
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(p), 8, block.begin());
    protocol_.SendBlockBytes(block);

    reply.fill(0);
    count = 0;
    stop = !GatherEcho(reply, count, kEchoCompleteAt, owed);
    if (!stop) {
      bool same = true;
      for (int i = 0; i < 8; ++i) {
        const std::uint8_t b = reply[device::kEchoDataAt[static_cast<std::size_t>(i)]];
        readback[p + static_cast<std::size_t>(i)] = b;
        same = same && b == block[static_cast<std::size_t>(i)];
      }
      echoCount += 8;
      if (same) Status(TextId::Writing, 0, echoCount);
    }
    Emit(panel::ProgressStepped{});
    owed = device::kEchoSize - count;
    if (stop || (StopRequested() && k + 1 < kBulkBlocks)) break;
    *allSent = k + 1 == kBulkBlocks;
  }
  // The last echo's tail is its own, owed to no echo before: byte 16 is judged on it.
  owed = 0;
  if (!stop) GatherEcho(reply, count, device::kEchoSize, owed);
  return reply;
}

// Receives into reply until count reaches need, or until a receive brings nothing
// (false: the stop mark). The first bytes received go to the owed tail of the echo
// before; bytes past the 18th of this echo are dropped with the rest of their receive.
bool UpdateSession::GatherEcho(device::EchoReply& reply, int& count, int need, int& owed) {
  std::array<std::uint8_t, device::kReceiveBytes> receive;
  while (count < need) {
    const int n = link_.ReceiveFromDevice(receive.data(), static_cast<int>(receive.size()));
    if (n == 0) return false;
    int i = std::min(std::max(n, 0), owed);  // a failed receive (-1) brings nothing
    owed -= i;
    for (; i < n && count < device::kEchoSize; ++i) {
      reply[static_cast<std::size_t>(count++)] = receive[static_cast<std::size_t>(i)];
    }
  }
  return true;
}

void UpdateSession::LeaveBootModeStep() {
  Stage(panel::Stage::Leaving);
  Emit(panel::ProgressSet{0});
  if (link_.ConnectedFlag()) {
    Status(TextId::Processing);
    if (!protocol_.LeaveBootMode()) Notice({TextId::LeaveError});
  }
}

// The end of every run, once, whatever happened before it.
void UpdateSession::CleanUp() {
  Stage(panel::Stage::CleanUp);
  images_.ReleaseImages();
  link_.CloseDeviceLink();
  if (overrideFlag_) RestoreXPort();
  Status(TextId::InitialStatus);

  if (outcome_.interrupted) {
    outcome_.result = Result::Interrupted;
    outcome_.failure = {FailureKind::Interrupted, {}};
  } else if (result_ && outcome_.dataFileRead) {
    outcome_.result = Result::Updated;
    outcome_.failure = {};
  } else if (outcome_.result != Result::Declined) {
    outcome_.result = Result::Failed;
  }
  if (!savedRecordPath_.empty()) outcome_.savedRecord = savedRecordPath_;
  outcome_.xportAdopted = adopted_;
  Stage(panel::Stage::Done);
}

// While the XPort restarts after a new record: the three dotted texts two seconds apart,
// after a first wait: 8 s in all. Used by the override and the restore alike.
void UpdateSession::WaitWithDots() {
  for (int i = 1; i <= 3; ++i) {
    sleeper_.SleepMs(kXPortStepMs);
    Status(TextId::XPortSetting, i);
  }
  sleeper_.SleepMs(kXPortStepMs);
}

void UpdateSession::RestoreXPort() {
  Notice({TextId::RestoreNotice}, Caption::Caution);
  const xport::SetupRecordBytes restore = xport::RestoreRecordOf(original_);
  bool restored = false;
  for (int attempt = 1; attempt <= kXPortAttempts && !restored; ++attempt) {
    if (xport_.SendSetupRecord(restore.data(), xport::kRecordSize)) {
      restored = true;
    } else if (xport_.LastFailure() == xport::ExchangeFailure::NoReply &&
               xport_.QuerySetupRecord() &&
               std::equal(original_.begin() + 4, original_.end(),
                          xport_.SetupRecord().begin() + 4)) {
      restored = true;  // it took the record; only its answer was lost
    } else if (attempt < kXPortAttempts) {
      sleeper_.SleepMs(kXPortStepMs);
    }
  }
  if (restored) {
    outcome_.xportRestored = true;
    ForgetSavedRecord();
    Status(TextId::XPortSetting);
    // The wait lets the XPort restart before it is used again; a stopped run ends the
    // program instead of using it.
    if (!StopRequested()) WaitWithDots();
  } else {
    Notice({TextId::RestoreAdvice, {TextId::RestoreRefused}});
    TellHowToRestore();
  }
}

// The command that puts the saved original back, ready to run.
void UpdateSession::TellHowToRestore() {
  if (savedRecordPath_.empty()) return;
  Notice({TextId::RestoreCommand,
          {platform::PathToUtf8(savedRecordPath_), platform::FormatIpv4(xport_.Address())}},
         Caption::Caution);
}

// The XPort holds its own record again: the saved copy is no longer needed.
void UpdateSession::ForgetSavedRecord() {
  if (!savedRecordPath_.empty()) savedRecords_.Remove(savedRecordPath_);
  savedRecordPath_.clear();
}

// An earlier run that changed this XPort's settings and never put them back left their
// original behind: it is the XPort's original, which this run puts back at its end.
void UpdateSession::AdoptSavedRecords() {
  const auto saved = savedRecords_.FindFor(xport_.XPortInfo());
  for (auto file = saved.rbegin(); file != saved.rend(); ++file) {
    xport::SetupRecordBytes record{};
    std::string mac;
    if (!xport::SavedRecords::Load(*file, &record, &mac)) continue;
    if (!mac.empty() && mac != xport_.FormatMacAddress()) continue;
    if (std::equal(record.begin() + 4, record.end(), original_.begin() + 4)) {
      // The XPort already holds it: only the file was left.
      savedRecords_.Remove(*file);
      continue;
    }
    const std::string path = platform::PathToUtf8(*file);
    Notice({TextId::SavedRecordFound, {path, path, platform::FormatIpv4(xport_.Address())}},
           Caption::Caution);
    if (options_.asksOperator &&
        !events_.OnQuestion({{TextId::AdoptSavedRecord, {path}}, Caption::Confirm})) {
      return;
    }
    original_ = record;
    adopted_ = true;
    savedRecordPath_ = *file;
    // The XPort carries changed settings: this run restores them at its end.
    overrideFlag_ = true;
    outcome_.xportOverridden = true;
    return;
  }
}

bool UpdateSession::SaveOriginalRecord() {
  std::error_code why;
  savedRecordPath_ = savedRecords_.Save(xport_.XPortInfo(), original_, &why);
  if (!savedRecordPath_.empty()) return true;
  const std::string folder = savedRecords_.folder().empty()
                                 ? std::string(panel::Text(TextId::NoSaveFolder))
                                 : platform::PathToUtf8(savedRecords_.folder());
  const std::string reason = platform::ErrorText(why);
  // A change that a crash could leave behind with no way back is the operator's choice,
  // never the program's.
  if (options_.asksOperator) {
    if (events_.OnQuestion({{TextId::SaveFailedQuestion, {folder, reason}}, Caption::Caution})) {
      return true;
    }
  } else {
    Notice({TextId::ReasonRecordNotSaved, {reason}});
  }
  Fail(FailureKind::RecordNotSaved, {reason});
  return false;
}

Outcome UpdateJob(UpdateSession& session, const device::Target& target,
                  const std::filesystem::path& namedDataFile) {
  Outcome failed;
  failed.failure = {FailureKind::DataFileUnreadable, {}};
  failed.port = target.port;
  image::DataFileFacts facts;
  if (!ReadDataFile(session.Images(), session.Events(), namedDataFile, {}, &facts,
                    &failed.dataFileLookedIn)) {
    return failed;
  }
  // The bulk write pauses 1 ms three times per block; with the default 15.6 ms timer on
  // Windows each pause would take a whole tick.
  const platform::TimerResolutionGuard fineTimer;
  Outcome outcome = UpdateProcedure(session, target);
  outcome.dataFile = facts;
  return outcome;
}

Outcome UpdateProcedure(UpdateSession& session, const device::Target& target) {
  if (!session.BeginRun(target)) return session.LastOutcome();
  const bool yes =
      !session.StopRequested() && session.Events().OnQuestion(session.ConfirmationQuestion());
  return session.FinishRun(yes);
}

int RestoreSavedRecord(UpdateSession& s, const device::Target& target,
                       const std::filesystem::path& file) {
  panel::RunObserver& events = s.Events();
  const auto notice = [&events](panel::Message m) {
    events.OnEvent(panel::NoticeRaised{std::move(m)});
  };
  if (!device::DeviceLink::ReadAddressInput(target)) {
    events.OnEvent(panel::NoticeRaised{{TextId::EnterAddress}, Caption::None});
    return 0;
  }
  s.XPort().UseAddress(*target.address);
  const std::string path = platform::PathToUtf8(file);  // as the notices name it
  xport::SetupRecordBytes record{};
  std::string savedMac;
  if (!xport::SavedRecords::Load(file, &record, &savedMac)) {
    notice({TextId::SavedRecordUnreadable, {path}});
    return 0;
  }
  // Only to the XPort it was saved from: a file of the earlier form names its XPort only
  // by the MAC its name begins with, and one that does not is never sent.
  const std::string expected = savedMac.empty() ? xport::MacKeyOfFileName(file) : savedMac;
  if (expected.empty()) {
    notice({TextId::RestoreMacUnknown, {path}});
    return 0;
  }
  if (!s.XPort().QueryXPortInfo()) {
    notice({TextId::NoInformation});
    return 0;
  }
  const std::string actual = s.XPort().FormatMacAddress();
  if (actual != expected) {
    notice({TextId::RestoreOtherXPort, {expected, device::AddressText(target), actual, path}});
    return 0;
  }
  // What the change touched is bytes 32 and 33; a record that differs from the XPort's in
  // anything else is not the one it was changed from (a damaged or foreign file), and
  // goes only where an operator has seen what differs and said so.
  if (!s.XPort().QuerySetupRecord()) {
    notice({TextId::NoInformation});
    return 0;
  }
  std::string differs;
  int shown = 0, more = 0;
  for (std::size_t i = 4; i < record.size(); ++i) {
    if (i == 32 || i == 33 || record[i] == s.XPort().SetupRecord()[i]) continue;
    if (shown++ >= 12) {
      ++more;
      continue;
    }
    char line[48];
    std::snprintf(line, sizeof line, "  %zu: %02X -> %02X\n", i,
                  static_cast<unsigned>(s.XPort().SetupRecord()[i]), static_cast<unsigned>(record[i]));
    differs += line;
  }
  if (more > 0) differs += "  (+" + std::to_string(more) + ")\n";
  if (!differs.empty()) {
    differs.pop_back();
    const bool send = s.AsksOperator() && events.OnQuestion({{TextId::RestoreDiffersAsk, {differs}}});
    if (!send) {
      if (!s.AsksOperator()) notice({TextId::RestoreDiffers, {differs}});
      return 0;
    }
  }
  record = xport::RestoreRecordOf(record);
  if (!s.XPort().SendSetupRecord(record.data(), xport::kRecordSize)) {
    notice({TextId::RestoreAdvice, {TextId::RestoreRefused}});
    return 0;
  }
  s.SavedRecords().Remove(file);
  events.OnEvent(panel::NoticeRaised{{TextId::XPortRestored}, Caption::Program});
  return 1;
}

int VerifyReadback(panel::RunObserver& events, int first, int end, const image::ImageBuffer& image,
                   const image::ImageBuffer& readback) {
  events.OnEvent(panel::ProgressReset{end - first, 1});
  for (int i = first; i < end; ++i) {
    const auto at = static_cast<std::size_t>(i);
    if (readback[at] != image[at]) return 0;
    events.OnEvent(panel::ProgressStepped{});
  }
  return 1;
}

}  // namespace update
