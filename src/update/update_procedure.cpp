#include "update/update_procedure.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"

namespace update {
namespace {

using panel::NoticeStyle;

// Status texts.
constexpr const char* kConnecting = "接続中...";
constexpr const char* kXPortSetting = "XPort設定中";
constexpr const char* kXPortSettingDots[] = {"XPort設定中.", "XPort設定中..", "XPort設定中..."};
constexpr const char* kLinked = "接続完了!確認中...";
constexpr const char* kFirmWriteMode = "FIRM WRITE MODE";
constexpr const char* kProcessing = "処理中...";
constexpr const char* kWriting = "書込み中...";
constexpr const char* kWriteFailed = "書込み失敗";
constexpr const char* kVerifying = "ﾍﾞﾘﾌｧｲ中...";
constexpr const char* kWriteDone = "書込み完了";
constexpr const char* kPowerCycle = "QUIVOの電源を入れ直してから接続して下さい。";

// Notice texts.
constexpr const char* kEnterAddress = "IPアドレスを入力してください";
constexpr const char* kNoInformation = "情報を取得出来ませんでした!!処理を中断します。";
constexpr const char* kOverrideNotice =
    "XPortの設定DisConnectionModeにOn Mdm_Ctrl_In Drop(DTR)又は\nActive ConnectionにWith Any "
    "Characterが設定されている可能性があります。\n処理を継続する為に設定を一時的に変更します。";
constexpr const char* kOverrideRefused =
    "XPortの設定DisConnectionModeにOn Mdm_Ctrl_In Drop(DTR)又は\nActive ConnectionにWith Any "
    "Characterが設定されている可能性があります\n設定を無効にしてください。処理を中断します。";
constexpr const char* kWrongDevice = "接続機器が異なります!!処理を中断します。";
constexpr const char* kNoBootMode = "ファーム書換えモードに入れませんでした!!処理を中断します。";
constexpr const char* kBulkFailed = "Error: 書込み失敗しました。\n";
constexpr const char* kVerifyError = "Error: ベリファイエラー\n";
constexpr const char* kWriteComplete = "書込み完了\n";
constexpr const char* kLeaveError = "ファーム書換えモードキャンセルエラー";
constexpr const char* kRestoreNotice = "変更したXPortの設定を戻します。";
constexpr const char* kRestoreRefused =
    "XPortの設定DisConnectionModeにOn Mdm_Ctrl_In Drop(DTR)及び\nActive ConnectionにWith Any "
    "Characterを設定できませんでした\n設定を確認してください。";
constexpr const char* kRestoreAdvice =
    "\n(SetupRecordファイルなどでXPortの設定を初期値に設定してください。)";
constexpr const char* kSavedRecordFound =
    "このXPortの元の設定が前回の処理で戻されていない可能性があります。\n保存されている設定: "
    "%s\n(DERURUZUD-cli --restore-xport <ファイル> --address <IPアドレス> で戻せます。)";
constexpr const char* kSaveFailed =
    "XPortの元の設定をファイルに保存できませんでした。\n(%s)\n"
    "設定を戻せなかった場合はXPortの設定を確認してください。";
constexpr const char* kDataFileError = "Error: データファイル読込みエラー\n";

constexpr const char* kCaptionError = "Error";
constexpr const char* kCaptionConfirm = "確認";
constexpr const char* kCaptionCaution = "注意";
constexpr const char* kCaptionProgram = "DERURUZUD";

constexpr int kBulkStartWord = 0x304;
constexpr int kBulkBlocks = 1855;
// A bulk echo counts as complete with this many of its 18 bytes (its data end at byte 15).
constexpr int kEchoCompleteAt = 16;
constexpr int kBulkRange = 14840;  // bytes of the bulk range, 8 per block
constexpr int kSingleBlocks[] = {0x290, 0x294, 0x298, 0x29C};

struct ModelTexts {
  const char* model;
  const char* caution;
};

ModelTexts TextsFor(int modelCode) {
  static constexpr const char* kCautionWithKT52 =
      "\n\n(注意:KT-52-Wとの入出力延長機能が動作中は実行しないで下さい!!)\n\n";
  switch (modelCode) {
    case device::kModelKT21:
      return {"Model:KT-21", kCautionWithKT52};
    case device::kModelKT40D:
      return {"Model:KT-40D(-W)", kCautionWithKT52};
    default:  // device::kModelKT52W: Identify succeeds for the three listed models only
      return {"Model:KT-52-W", "\n\n(注意:入出力延長機能が動作中は実行しないで下さい!!)\n\n"};
  }
}

// While the XPort restarts after a new record: the three dotted texts two seconds apart,
// after a first wait: 8 s in all. Used by the override and the restore alike.
void WaitWithDots(UpdateSession& s) {
  for (const char* dots : kXPortSettingDots) {
    s.sleeper.SleepMs(kXPortStepMs);
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
    if (!s_.link.ReadAddressInput()) return Fail(kEnterAddress, "");
    if (!s_.xport.QueryXPortInfo()) return Fail(kNoInformation, kCaptionError);
    mac_ = s_.xport.FormatMacAddress();
    AnnounceSavedRecords();
    if (!s_.xport.QuerySetupRecord()) return Fail(kNoInformation, kCaptionError);
    if (s_.xport.NeedsOverride()) {
      s_.xport.BuildOverrideRecord();
      SaveOriginalRecord();
      Notice(kOverrideNotice, kCaptionCaution);
      s_.panel.SetStatus(kXPortSetting);
      if (!s_.xport.SendSetupRecord(s_.xport.SetRecord().data(), xport::kRecordSize)) {
        // The XPort kept its own record: there is nothing to put back.
        ForgetSavedRecord(s_);
        return Fail(kOverrideRefused, kCaptionError);
      }
      WaitWithDots(s_);
      s_.OverrideFlag = true;
    }

    if (!s_.link.OpenDeviceLink()) {
      result = 0;
      return;
    }
    s_.panel.SetStatus(kLinked);
    if (!s_.protocol.Identify()) {
      const int code = s_.protocol.Identity().ModelCode;
      if (code == device::kModelWrongDevice) Notice(kWrongDevice, kCaptionError);
      if (code == device::kModelNoReply) Notice(kNoBootMode, kCaptionError);
      result = 0;
      return;
    }
    s_.panel.ShowIdentity(s_.protocol.Identity());
    s_.panel.SetStatus(kFirmWriteMode);
    versionText_ = VersionText();
    s_.panel.SetVersionLine(versionText_);

    if (!panel::AskYesNo(s_.owner, ConfirmationText(), kCaptionConfirm)) {
      s_.panel.SetStatus(kProcessing);
      result = 0;
    } else {
      WriteAndVerify();
      s_.panel.SetVersionLine(versionText_ + (result ? " 書込み成功" : " 書込み失敗"));
    }
    LeaveBootModeStep();
  }

 private:
  void Notice(const char* text, const char* caption) {
    panel::ShowNotice(s_.owner, text, caption, NoticeStyle::Plain);
  }
  void Fail(const char* text, const char* caption) {
    Notice(text, caption);
    result = 0;
  }
  void BlockFailure(const char* text) {
    Notice(text, kCaptionError);
    s_.panel.SetStatus(kProcessing);
    result = 0;
  }

  // An earlier run that overrode this XPort and never put it back left its record behind.
  void AnnounceSavedRecords() {
    const auto saved = s_.savedRecords.FindFor(s_.xport.XPortInfo());
    if (saved.empty()) return;
    char text[1024];
    std::snprintf(text, sizeof text, kSavedRecordFound, saved.back().c_str());
    Notice(text, kCaptionCaution);
  }

  void SaveOriginalRecord() {
    s_.savedRecordPath = s_.savedRecords.Save(s_.xport.XPortInfo(), s_.xport.SetupRecord());
    if (!s_.savedRecordPath.empty()) return;
    char text[1024];
    const std::string where =
        s_.savedRecords.folder().empty() ? std::string("保存先なし") : s_.savedRecords.folder();
    std::snprintf(text, sizeof text, kSaveFailed, where.c_str());
    Notice(text, kCaptionCaution);
  }

  std::string VersionText() const {
    char buf[64];
    std::snprintf(buf, sizeof buf, "Ver:%4d -> %4d", s_.protocol.Identity().ReportedVersion,
                  s_.images.ImageVersion());
    return buf;
  }

  std::string ConfirmationText() const {
    const ModelTexts t = TextsFor(s_.protocol.Identity().ModelCode);
    return "MAC:" + mac_ + "\n" + t.model + "\n" + versionText_ + t.caution +
           "\n\nファームの書換えを開始しますか？";
  }

  // Steps 20 to 31; a failure ends the writing with result 0.
  void WriteAndVerify() {
    if (!s_.protocol.ClearVersionBlock()) return BlockFailure("0x0300 Clear Error");
    if (!s_.protocol.WriteBlock(0x26C)) return BlockFailure("0x026C Write Error");
    for (int a : kSingleBlocks) {
      if (!s_.protocol.WriteBlock(a)) {
        char text[32];
        std::snprintf(text, sizeof text, "0x%04x Write Error", a);
        return BlockFailure(text);
      }
    }
    s_.protocol.StartBulkWrite(kBulkStartWord);
    s_.panel.SetStatus(kWriting);
    const device::EchoReply last = BulkWrite();
    s_.panel.SetProgress(0);

    if (!s_.link.ConnectedFlag() || last[device::kEchoEndAt] != 'E') {
      panel::ShowNotice(s_.owner, kBulkFailed, kCaptionProgram, NoticeStyle::Plain);
      s_.panel.SetStatus(kWriteFailed);
      result = 0;
      return;
    }
    s_.panel.SetStatus(kVerifying);
    if (!VerifyReadback(s_.panel, static_cast<int>(image::kBulkFirstByte),
                        static_cast<int>(image::kBulkEndByte), s_.images.FirmwareImage(),
                        s_.images.ReadbackImage())) {
      panel::ShowNotice(s_.owner, kVerifyError, kCaptionProgram, NoticeStyle::Plain);
      s_.panel.SetStatus(kWriteFailed);
      result = 0;
      return;
    }
    if (!s_.protocol.WriteBlock(0x300)) return BlockFailure("0x0300 Write Error");
    panel::ShowNotice(s_.owner, kWriteComplete, kCaptionProgram, NoticeStyle::Plain);
    s_.panel.SetStatus(kWriteDone);
  }

  // The 1,855 data blocks of the bulk range, stop-and-wait. An echo counts as complete
  // at 16 bytes (byte 16 is judged only for the last block, after the loop), so the next
  // block goes out without waiting for bytes 16 and 17. Those still belong to their echo:
  // they are taken from the stream before the next echo's first byte, and the last
  // echo's are awaited after the loop, so that a late tail is never read as the head of
  // the next echo, of the version block's echo or of the leave reply. Returns the reply
  // buffer as the last block left it.
  device::EchoReply BulkWrite() {
    device::EchoReply reply{};
    auto& send = s_.shared.SendBuffer;
    const image::ImageBuffer& image = s_.images.FirmwareImage();
    image::ImageBuffer& readback = s_.images.ReadbackImage();
    int echoCount = 0;
    int count = 0;  // bytes of the current echo gathered
    int owed = 0;   // bytes of the echo before still to come
    bool stop = false;
    char status[48];

    for (int k = 0; k < kBulkBlocks && !stop; ++k) {
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
          std::snprintf(status, sizeof status, "%s %d", kWriting, echoCount);
          s_.panel.SetStatus(status);
        }
      }
      s_.panel.StepProgress();
      owed = device::kEchoSize - count;
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
    s_.panel.SetProgress(0);
    if (s_.link.ConnectedFlag()) {
      s_.panel.SetStatus(kProcessing);
      if (!s_.protocol.LeaveBootMode()) Notice(kLeaveError, kCaptionError);
    }
  }

  UpdateSession& s_;
  std::string mac_;
  std::string versionText_;
};

void RestoreXPort(UpdateSession& s) {
  panel::ShowNotice(s.owner, kRestoreNotice, kCaptionCaution, NoticeStyle::Plain);
  s.xport.BuildRestoreRecord();
  if (s.xport.SendSetupRecord(s.xport.SetRecord().data(), xport::kRecordSize)) {
    ForgetSavedRecord(s);
    s.panel.SetStatus(kXPortSetting);
    WaitWithDots(s);
  } else {
    panel::ShowNotice(s.owner, std::string(kRestoreRefused) + kRestoreAdvice, kCaptionError,
                   NoticeStyle::Plain);
  }
}

}  // namespace

JobOutcome UpdateJob(UpdateSession& session, const std::string& dataFile) {
  JobOutcome outcome;
  if (!session.images.LoadDataFile(session.owner, dataFile)) return outcome;
  if (!session.images.ParseDataFile(session.owner)) {
    panel::ShowNotice(session.owner, kDataFileError, kCaptionError, NoticeStyle::Plain);
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
  s.panel.ResetProgress(kBulkRange, 8);
  s.panel.ClearIdentity();
  s.panel.SetStatus(kConnecting);
  s.panel.EnableInputs(false);

  Run run(s);
  run.ToCleanUp();

  // The clean-up, once, whatever happened above.
  s.images.ReleaseImages();
  s.link.CloseDeviceLink();
  if (s.OverrideFlag) RestoreXPort(s);
  s.panel.SetStatus(kPowerCycle);
  s.panel.EnableInputs(true);
  return run.result;
}

int RestoreSavedRecord(UpdateSession& s, const std::string& path) {
  if (!s.link.ReadAddressInput()) {
    panel::ShowNotice(s.owner, kEnterAddress, "", NoticeStyle::Plain);
    return 0;
  }
  xport::SetupRecordBytes record{};
  if (!xport::SavedRecords::Load(path, &record)) {
    panel::ShowNotice(s.owner, "保存されたXPortの設定を読めませんでした。\n" + path, kCaptionError,
                   NoticeStyle::Plain);
    return 0;
  }
  record[0] = record[1] = record[2] = 0x00;
  record[3] = 0xFA;
  if (!s.xport.SendSetupRecord(record.data(), xport::kRecordSize)) {
    panel::ShowNotice(s.owner, std::string(kRestoreRefused) + kRestoreAdvice, kCaptionError,
                   NoticeStyle::Plain);
    return 0;
  }
  s.savedRecords.Remove(path);
  panel::ShowNotice(s.owner, "XPortの設定を戻しました。", kCaptionProgram, NoticeStyle::Plain);
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
