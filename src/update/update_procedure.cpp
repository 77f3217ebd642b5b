#include "update/update_procedure.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "panel/text_catalog.h"
#include "platform/clock.h"
#include "platform/program_folder.h"

namespace update {
namespace {

using panel::NoticeStyle;

using panel::Text;
using panel::TextId;

constexpr const char* kCaptionProgram = "DERURUZUD";

constexpr int kBulkStartWord = 0x304;
constexpr int kBulkBlocks = 1855;
// A bulk echo counts as complete with this many of its 18 bytes (its data end at byte 15).
constexpr int kEchoCompleteAt = 16;
constexpr int kBulkRange = 14840;  // bytes of the bulk range, 8 per block
constexpr int kSingleBlocks[] = {0x290, 0x294, 0x298, 0x29C};

struct ModelTexts {
  const char* model;
  TextId caution;
};

ModelTexts TextsFor(int modelCode) {
  switch (modelCode) {
    case device::kModelKT21:
      return {"Model:KT-21", TextId::CautionWithKT52};
    case device::kModelKT40D:
      return {"Model:KT-40D(-W)", TextId::CautionWithKT52};
    default:  // device::kModelKT52W: Identify succeeds for the three listed models only
      return {"Model:KT-52-W", TextId::CautionIoExtension};
  }
}

// While the XPort restarts after a new record: the three dotted texts two seconds apart,
// after a first wait: 8 s in all. Used by the override and the restore alike.
void WaitWithDots(UpdateSession& s) {
  std::string dots = Text(TextId::XPortSetting);
  for (int i = 0; i < 3; ++i) {
    s.sleeper.SleepMs(kXPortStepMs);
    dots += '.';
    s.panel.SetStatus(dots);
  }
  s.sleeper.SleepMs(kXPortStepMs);
}

// The XPort holds its own record again: the saved copy is no longer needed.
void ForgetSavedRecord(UpdateSession& s) {
  if (!s.savedRecordPath.empty()) s.savedRecords.Remove(s.savedRecordPath);
  s.savedRecordPath.clear();
}

// Steps 6 to 34 of a run, up to the clean-up; the caller runs the clean-up after it.
class Run {
 public:
  explicit Run(UpdateSession& s) : s_(s) {}

  int result = 1;

  void ToCleanUp() {
    if (!s_.link.ReadAddressInput()) return Fail(TextId::EnterAddress, "");
    if (StopHere()) return;
    s_.stage = Stage::XPort;
    if (!s_.xport.QueryXPortInfo()) return Fail(TextId::NoInformation, Text(TextId::CaptionError));
    s_.facts.macRead = true;
    mac_ = s_.xport.FormatMacAddress();
    AnnounceSavedRecords();
    if (!s_.xport.QuerySetupRecord())
      return Fail(TextId::NoInformation, Text(TextId::CaptionError));
    if (StopHere()) return;
    if (s_.xport.NeedsOverride()) {
      s_.xport.BuildOverrideRecord();
      SaveOriginalRecord();
      Notice(Text(TextId::OverrideNotice), Text(TextId::CaptionCaution));
      s_.panel.SetStatus(Text(TextId::XPortSetting));
      if (!s_.xport.SendSetupRecord(s_.xport.SetRecord().data(), xport::kRecordSize)) {
        // The XPort kept its own record: there is nothing to put back.
        ForgetSavedRecord(s_);
        return Fail(TextId::OverrideRefused, Text(TextId::CaptionError));
      }
      WaitWithDots(s_);
      s_.OverrideFlag = true;
      s_.facts.overridden = true;
    }

    if (StopHere()) return;
    if (!s_.link.OpenDeviceLink()) {
      result = 0;
      return;
    }
    s_.stage = Stage::Linked;
    s_.panel.SetStatus(Text(TextId::Linked));
    // A peer that has not said it is the device is never sent the leave command.
    if (StopHere()) return;
    if (!s_.protocol.Identify()) {
      const int code = s_.protocol.Identity().ModelCode;
      if (code == device::kModelWrongDevice)
        Notice(Text(TextId::WrongDevice), Text(TextId::CaptionError));
      if (code == device::kModelNoReply)
        Notice(Text(TextId::NoBootMode), Text(TextId::CaptionError));
      result = 0;
      return;
    }
    s_.facts.identified = true;
    s_.stage = Stage::Identified;
    s_.panel.ShowIdentity(s_.protocol.Identity());
    s_.panel.SetStatus(Text(TextId::FirmWriteMode));
    versionText_ = VersionText();
    s_.panel.SetVersionLine(versionText_);

    bool yes = !StopHere() && Confirm();
    if (StopHere()) yes = false;  // also when the stop is why the answer was No
    if (!yes) {
      s_.panel.SetStatus(Text(TextId::Processing));
      result = 0;
    } else {
      s_.facts.confirmed = true;
      s_.stage = Stage::Writing;
      WriteAndVerify();
      s_.panel.SetVersionLine(versionText_ + " " +
                              Text(result ? TextId::VersionWritten : TextId::VersionNotWritten));
    }
    LeaveBootModeStep();
  }

 private:
  void Notice(const std::string& text, const char* caption) {
    panel::ShowNotice(s_.owner, text, caption, NoticeStyle::Plain);
  }
  void Fail(TextId text, const char* caption) {
    Notice(Text(text), caption);
    result = 0;
  }
  // A stop request ends the run at the next block; the caller goes on to the clean-up.
  bool StopHere() {
    if (!s_.StopRequested()) return false;
    s_.facts.stopped = true;
    result = 0;
    return true;
  }

  bool Confirm() {
    const ModelTexts t = TextsFor(s_.protocol.Identity().ModelCode);
    Confirmation c;
    c.mac = mac_;
    c.model = t.model;
    c.versionText = versionText_;
    c.caution = Text(t.caution);
    c.text = "MAC:" + mac_ + "\n" + t.model + "\n" + versionText_ + c.caution + "\n\n" +
             Text(TextId::ConfirmStart);
    c.caption = Text(TextId::CaptionConfirm);
    if (s_.confirm) return s_.confirm(c);
    return panel::AskYesNo(s_.owner, c.text, c.caption);
  }

  void BlockFailure(const std::string& text) {
    Notice(text, Text(TextId::CaptionError));
    s_.panel.SetStatus(Text(TextId::Processing));
    result = 0;
  }
  void BlockFailure(TextId text) { BlockFailure(Text(text)); }

  // An earlier run that overrode this XPort and never put it back left its record behind.
  void AnnounceSavedRecords() {
    const auto saved = s_.savedRecords.FindFor(s_.xport.XPortInfo());
    if (saved.empty()) return;
    char text[1024];
    std::snprintf(text, sizeof text, Text(TextId::SavedRecordFound),
                  platform::PathToUtf8(saved.back()).c_str());
    Notice(text, Text(TextId::CaptionCaution));
  }

  void SaveOriginalRecord() {
    s_.savedRecordPath = s_.savedRecords.Save(s_.xport.XPortInfo(), s_.xport.SetupRecord());
    if (!s_.savedRecordPath.empty()) return;
    char text[1024];
    const std::string where = s_.savedRecords.folder().empty()
                                  ? std::string(Text(TextId::NoSaveFolder))
                                  : platform::PathToUtf8(s_.savedRecords.folder());
    std::snprintf(text, sizeof text, Text(TextId::SaveFailed), where.c_str());
    Notice(text, Text(TextId::CaptionCaution));
  }

  std::string VersionText() const {
    char buf[64];
    std::snprintf(buf, sizeof buf, "Ver:%4d -> %4d", s_.protocol.Identity().ReportedVersion,
                  s_.images.ImageVersion());
    return buf;
  }

  // Steps 20 to 31; a failure ends the writing with result 0.
  void WriteAndVerify() {
    if (StopHere()) return;
    s_.facts.writeStarted = true;
    if (!s_.protocol.ClearVersionBlock()) return BlockFailure(TextId::VersionClearError);
    if (StopHere()) return;
    if (!s_.protocol.WriteBlock(0x26C)) return BlockFailure(TextId::FirstBlockWriteError);
    for (int a : kSingleBlocks) {
      if (StopHere()) return;
      if (!s_.protocol.WriteBlock(a)) {
        char text[32];
        std::snprintf(text, sizeof text, Text(TextId::BlockWriteError), a);
        return BlockFailure(text);
      }
    }
    if (StopHere()) return;
    s_.protocol.StartBulkWrite(kBulkStartWord);
    s_.panel.SetStatus(Text(TextId::Writing));
    bool allBlocksSent = false;
    const device::EchoReply last = BulkWrite(&allBlocksSent);
    s_.panel.SetProgress(0);
    if (StopHere()) {
      // Stopped inside the announced range, the device would take the leave command for
      // block data and never answer it: the link is closed instead.
      if (!allBlocksSent) s_.link.CloseDeviceLink();
      return;
    }

    if (!s_.link.ConnectedFlag() || last[device::kEchoEndAt] != 'E') {
      panel::ShowNotice(s_.owner, Text(TextId::BulkFailed), kCaptionProgram, NoticeStyle::Plain);
      s_.panel.SetStatus(Text(TextId::WriteFailed));
      result = 0;
      return;
    }
    s_.stage = Stage::Verifying;
    s_.panel.SetStatus(Text(TextId::Verifying));
    if (!VerifyReadback(s_.panel, static_cast<int>(image::kBulkFirstByte),
                        static_cast<int>(image::kBulkEndByte), s_.images.FirmwareImage(),
                        s_.images.ReadbackImage())) {
      panel::ShowNotice(s_.owner, Text(TextId::VerifyError), kCaptionProgram, NoticeStyle::Plain);
      s_.panel.SetStatus(Text(TextId::WriteFailed));
      result = 0;
      return;
    }
    if (StopHere()) return;
    if (!s_.protocol.WriteBlock(0x300)) return BlockFailure(TextId::VersionWriteError);
    panel::ShowNotice(s_.owner, Text(TextId::WriteComplete), kCaptionProgram, NoticeStyle::Plain);
    s_.panel.SetStatus(Text(TextId::WriteDone));
  }

  // The 1,855 data blocks of the bulk range, stop-and-wait. An echo counts as complete
  // at 16 bytes (byte 16 is judged only for the last block, after the loop), so the next
  // block goes out without waiting for bytes 16 and 17. Those still belong to their echo:
  // they are taken from the stream before the next echo's first byte, and the last
  // echo's are awaited after the loop, so that a late tail is never read as the head of
  // the next echo, of the version block's echo or of the leave reply. Returns the reply
  // buffer as the last block left it; *allSent tells whether every block went out.
  device::EchoReply BulkWrite(bool* allSent) {
    device::EchoReply reply{};
    auto& send = s_.shared.SendBuffer;
    const image::ImageBuffer& image = s_.images.FirmwareImage();
    image::ImageBuffer& readback = s_.images.ReadbackImage();
    int echoCount = 0;
    int count = 0;  // bytes of the current echo gathered
    int owed = 0;   // bytes of the echo before still to come
    bool stop = false;
    char status[64];
    const char* writing = Text(TextId::Writing);

    for (int k = 0; k < kBulkBlocks; ++k) {
      const std::size_t p = image::kBulkFirstByte + 8 * static_cast<std::size_t>(k);
      send.fill(0);
      std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(p), 8, send.begin());
      device::DataBlock block;
      std::copy_n(send.begin(), 8, block.begin());
      s_.protocol.SendBlockBytes(block);

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
        if (same) {
          std::snprintf(status, sizeof status, "%s %d", writing, echoCount);
          s_.panel.SetStatus(status);
        }
      }
      s_.panel.StepProgress();
      owed = device::kEchoSize - count;
      if (stop || (s_.StopRequested() && k + 1 < kBulkBlocks)) break;
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
  bool GatherEcho(device::EchoReply& reply, int& count, int need, int& owed) {
    auto& receive = s_.shared.ReceiveBuffer;
    while (count < need) {
      const int n = s_.link.ReceiveFromDevice(receive.data(), static_cast<int>(receive.size()));
      if (n == 0) return false;
      int i = std::min(std::max(n, 0), owed);  // a failed receive (-1) brings nothing
      owed -= i;
      for (; i < n && count < device::kEchoSize; ++i) {
        reply[static_cast<std::size_t>(count++)] = receive[static_cast<std::size_t>(i)];
      }
    }
    return true;
  }

  // Steps 33 and 34.
  void LeaveBootModeStep() {
    s_.stage = Stage::Leaving;
    s_.panel.SetProgress(0);
    if (s_.link.ConnectedFlag()) {
      s_.panel.SetStatus(Text(TextId::Processing));
      if (!s_.protocol.LeaveBootMode())
        Notice(Text(TextId::LeaveError), Text(TextId::CaptionError));
    }
  }

  UpdateSession& s_;
  std::string mac_;
  std::string versionText_;
};

void RestoreXPort(UpdateSession& s) {
  panel::ShowNotice(s.owner, Text(TextId::RestoreNotice), Text(TextId::CaptionCaution),
                    NoticeStyle::Plain);
  s.xport.BuildRestoreRecord();
  if (s.xport.SendSetupRecord(s.xport.SetRecord().data(), xport::kRecordSize)) {
    s.facts.xportRestored = true;
    ForgetSavedRecord(s);
    s.panel.SetStatus(Text(TextId::XPortSetting));
    // The wait lets the XPort restart before it is used again; a stopped run ends the
    // program instead of using it.
    if (!s.StopRequested()) WaitWithDots(s);
  } else {
    panel::ShowNotice(s.owner,
                      std::string(Text(TextId::RestoreRefused)) + Text(TextId::RestoreAdvice),
                      Text(TextId::CaptionError), NoticeStyle::Plain);
  }
}

}  // namespace

JobOutcome UpdateJob(UpdateSession& session, const std::filesystem::path& namedDataFile) {
  JobOutcome outcome;
  session.facts = RunFacts{};
  const image::DataFileSearch search = image::FindDataFile(namedDataFile);
  if (!search.found) outcome.dataFileLookedIn = search.looked;
  if (!session.images.LoadDataFile(session.owner, search.path)) return outcome;
  if (!session.images.ParseDataFile(session.owner)) {
    panel::ShowNotice(session.owner, Text(TextId::DataFileError), Text(TextId::CaptionError),
                      NoticeStyle::Plain);
    return outcome;
  }
  outcome.dataFileRead = true;
  // The bulk write pauses 1 ms three times per block; with the default 15.6 ms timer on
  // Windows each pause would take a whole tick.
  const platform::TimerResolutionGuard fineTimer;
  outcome.result = UpdateProcedure(session);
  return outcome;
}

int UpdateProcedure(UpdateSession& s) {
  s.OverrideFlag = false;
  s.savedRecordPath.clear();
  s.facts = RunFacts{};
  s.stage = Stage::Preparing;
  s.panel.ResetProgress(kBulkRange, 8);
  s.panel.ClearIdentity();
  s.panel.SetStatus(Text(TextId::Connecting));
  s.panel.EnableInputs(false);

  Run run(s);
  run.ToCleanUp();

  // The clean-up, once, whatever happened above.
  s.stage = Stage::CleanUp;
  s.images.ReleaseImages();
  s.link.CloseDeviceLink();
  if (s.OverrideFlag) RestoreXPort(s);
  s.panel.SetStatus(Text(TextId::InitialStatus));
  s.panel.EnableInputs(true);
  return run.result;
}

int RestoreSavedRecord(UpdateSession& s, const std::filesystem::path& file,
                       const std::function<bool(const std::string& savedMac)>& beforeSending) {
  if (!s.link.ReadAddressInput()) {
    panel::ShowNotice(s.owner, Text(TextId::EnterAddress), "", NoticeStyle::Plain);
    return 0;
  }
  xport::SetupRecordBytes record{};
  std::string savedMac;
  if (!xport::SavedRecords::Load(file, &record, &savedMac)) {
    panel::ShowNotice(s.owner, Text(TextId::SavedRecordUnreadable) + platform::PathToUtf8(file),
                      Text(TextId::CaptionError), NoticeStyle::Plain);
    return 0;
  }
  if (beforeSending && !beforeSending(savedMac)) return 0;
  record[0] = record[1] = record[2] = 0x00;
  record[3] = 0xFA;
  if (!s.xport.SendSetupRecord(record.data(), xport::kRecordSize)) {
    panel::ShowNotice(s.owner,
                      std::string(Text(TextId::RestoreRefused)) + Text(TextId::RestoreAdvice),
                      Text(TextId::CaptionError), NoticeStyle::Plain);
    return 0;
  }
  s.savedRecords.Remove(file);
  panel::ShowNotice(s.owner, Text(TextId::XPortRestored), kCaptionProgram, NoticeStyle::Plain);
  return 1;
}

int VerifyReadback(panel::OperatorPanel& panel, int first, int end, const image::ImageBuffer& image,
                   const image::ImageBuffer& readback) {
  panel.ResetProgress(end - first, 1);
  for (int i = first; i < end; ++i) {
    const auto at = static_cast<std::size_t>(i);
    if (readback[at] != image[at]) return 0;
    panel.StepProgress();
  }
  return 1;
}

}  // namespace update
