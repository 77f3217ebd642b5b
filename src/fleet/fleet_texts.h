// Every operator-facing text of the fleet engine, its console front end, the report, the
// history and the guarded restore: Japanese (the source language) and English side by
// side, chosen by a Language setting. "%s" marks where Fill() puts its arguments, in
// order. The update procedure's own notices are not here: they stay as the procedure
// raises them.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace fleet {

enum class Language { Japanese, English };

struct Text {
  const char* ja;
  const char* en;
  const char* In(Language language) const { return language == Language::English ? en : ja; }
};

// "ja" or "en"; false for anything else (*out untouched).
bool ParseLanguage(std::string_view name, Language* out);

// pattern with each "%s" replaced by the next argument; a "%s" without one is left as is.
std::string Fill(std::string_view pattern, std::initializer_list<std::string_view> args);

namespace texts {

// The one question of a batch.
inline constexpr Text kQuestionHead{"次の機器のファームを書換えます:",
                                    "The firmware of these devices will be rewritten:"};
inline constexpr Text kQuestionFailedHead{"識別できなかった機器 (書換えません):",
                                          "Devices that were not identified (not written):"};
inline constexpr Text kQuestionAsk{"%s台のファームの書換えを開始しますか？",
                                   "Start rewriting the firmware of %s devices?"};
inline constexpr Text kQuestionCaption{"確認", "Confirm"};

// Where a device's run stands (the live line and the milestone lines).
inline constexpr Text kStageQueued{"待機中", "queued"};
inline constexpr Text kStagePreparing{"準備中", "preparing"};
inline constexpr Text kStageXPort{"XPort確認中", "XPort"};
inline constexpr Text kStageLinked{"識別中", "identifying"};
inline constexpr Text kStageAwaiting{"確認待ち", "awaiting answer"};
inline constexpr Text kStageWriting{"書込み中", "writing"};
inline constexpr Text kStageVerifying{"ベリファイ中", "verifying"};
inline constexpr Text kStageLeaving{"書換えモード終了中", "leaving boot mode"};
inline constexpr Text kStageCleanUp{"後処理中", "cleaning up"};
inline constexpr Text kStageDone{"終了", "done"};

// A device's result.
inline constexpr Text kResultUpdated{"書換え完了", "updated"};
inline constexpr Text kResultFailed{"失敗", "failed"};
inline constexpr Text kResultDeclined{"書換えせず", "declined"};
inline constexpr Text kResultInterrupted{"中断", "interrupted"};

// Why a device failed, where no notice of the run says it.
inline constexpr Text kReasonUnlistedModel{"未登録の機種です (0x%s)", "unlisted model (0x%s)"};
inline constexpr Text kReasonInterrupted{"中断しました", "interrupted"};
inline constexpr Text kReasonNotStarted{"中断したため開始しませんでした",
                                        "not started: interrupted"};
inline constexpr Text kReasonUnknown{"失敗しました", "failed"};

// The summary at the end of a batch.
inline constexpr Text kColumnAddress{"アドレス", "address"};
inline constexpr Text kColumnModel{"機種", "model"};
inline constexpr Text kColumnPhase{"状態", "phase"};
inline constexpr Text kColumnVersion{"バージョン", "version"};
inline constexpr Text kColumnResult{"結果", "result"};
inline constexpr Text kColumnSeconds{"秒", "s"};
inline constexpr Text kColumnReason{"理由", "reason"};
inline constexpr Text kColumnTime{"日時", "time"};
inline constexpr Text kSummaryCounts{"書換え完了 %s台 / 失敗 %s台 / 書換えせず %s台",
                                     "updated %s, failed %s, declined %s"};
inline constexpr Text kStopping{
    "中断します: 各機器の後処理 (書換えモード終了・XPort設定の復元) を行っています。"
    "もう一度 Ctrl-C で即時終了します。",
    "Stopping: each device's clean-up (leave command, XPort restore) is running. Ctrl-C "
    "again ends at once."};
inline constexpr Text kEndingNow{"\nもう一度中断されたため、すぐに終了します。\n",
                                 "\nInterrupted again: ending now.\n"};

// Bad input on the command line: named, exit status 2, nothing sent.
inline constexpr Text kBadAddress{"%s: IPv4アドレス (例 192.168.0.20) として読めません",
                                  "%s: not an IPv4 address such as 192.168.0.20"};
inline constexpr Text kBadDeviceLine{"%s の %s 行目「%s」: ADDRESS[:PORT] として読めません",
                                     "%s, line %s, \"%s\": not ADDRESS[:PORT]"};
inline constexpr Text kBadPort{"%s: ポート番号は 1 から 65535 です",
                               "%s: the port must be 1 to 65535"};
inline constexpr Text kDuplicateDevice{"%s: 同じ機器が2回指定されています (%s と %s)",
                                       "%s is given twice (%s and %s)"};
inline constexpr Text kBadJobs{"--jobs %s: 1 以上の数を指定してください",
                               "--jobs %s: give a number of 1 or more"};
inline constexpr Text kDevicesUnreadable{"%s: 機器リストを読めません",
                                         "%s: cannot read the devices file"};
inline constexpr Text kNoDevices{"%s: 機器が1台も書かれていません", "%s: lists no device"};
inline constexpr Text kRestoreOneAddress{"--restore-xport には --address を1つだけ指定してください",
                                         "--restore-xport takes exactly one --address"};
inline constexpr Text kReportUnwritten{"%s: レポートを書けませんでした",
                                       "%s: the report could not be written"};

// The history of runs.
inline constexpr Text kHistorySkipped{"%s の %s 行目は実行記録として読めないため飛ばします",
                                      "%s, line %s: not a run record, skipped"};
inline constexpr Text kBadHistoryCount{"--history %s: 件数を数字で指定してください",
                                      "--history %s: give the number of runs"};
inline constexpr Text kHistoryEmpty{"実行記録はまだありません (%s)", "No runs recorded yet (%s)"};
inline constexpr Text kHistoryNoFolder{"状態フォルダが見つかりません", "No state folder found"};

// Restoring a saved XPort record to the XPort it was saved from only.
inline constexpr Text kRestoreOtherXPort{
    "この設定は MAC %s のXPortから保存されたものです。\n%s のXPortの MAC は %s です。\n"
    "別のXPortには送りません。ファイルはそのまま残しています:\n%s",
    "This record was saved from the XPort with MAC %s.\nThe XPort at %s has MAC %s.\n"
    "It is not sent to another XPort; the file is kept:\n%s"};
inline constexpr Text kRestoreNoInformation{"情報を取得出来ませんでした!!処理を中断します。",
                                            "Could not get the XPort's information!! Stopping."};
inline constexpr Text kRestoreMacUnknown{
    "この設定ファイルには保存元のXPortの MAC が記されていません (ファイル名からも分かりません)。\n"
    "別のXPortに送らないよう、送らずにファイルを残しています:\n%s",
    "This record file does not say which XPort it was saved from (nor does its name).\nSo "
    "that it never reaches another XPort, it is not sent; the file is kept:\n%s"};

}  // namespace texts
}  // namespace fleet
