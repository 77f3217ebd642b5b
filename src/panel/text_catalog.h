// The catalog of every text the operator reads, in Japanese (the source language, kept
// byte for byte) and English, looked up by key. All three front ends and the core take
// their texts from here, so no code outside this catalog chooses between languages.
//
// The language is chosen once, by the program's entry, before any window or worker
// exists (ChooseLanguage, then SetLanguage); until then it is Japanese. Any thread may
// look texts up.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace panel {

enum class Language { Japanese, English };

enum class TextId : int {
  // The main dialog.
  InitialStatus,
  Caution,
  AddressLabel,
  PortLabel,
  Connect,
  Exit,
  CloseWhileRunning,
  RegisterClassFailed,
  CreateWindowFailed,
  // Notice captions.
  CaptionError,
  CaptionConfirm,
  CaptionCaution,
  // Status and version lines while a run goes on.
  Connecting,
  XPortSetting,  // followed by one to three dots while the XPort restarts
  Linked,
  FirmWriteMode,
  Processing,
  Writing,  // also the start of the per-block counter, "<Writing> N"
  WriteFailed,
  Verifying,
  WriteDone,
  VersionWritten,     // after the version line: " <text>"
  VersionNotWritten,  // likewise
  // The confirmation question.
  ConfirmStart,
  ConfirmQuestion,  // %s MAC, %s model line, %s version text, %s caution
  ConfirmQuestionWithFile,  // the same, and %s the data file's lines
  CautionWithKT52,
  CautionIoExtension,
  // Notices of the update procedure.
  EnterAddress,
  NoInformation,
  OverrideNotice,
  OverrideRefused,
  WrongDevice,
  NoBootMode,
  VersionClearError,
  FirstBlockWriteError,
  BlockWriteError,  // %s: the block's word address, four lower-case hex digits
  VersionWriteError,
  BulkFailed,
  VerifyError,
  WriteComplete,
  LeaveError,
  RestoreNotice,
  RestoreRefused,
  RestoreAdvice,  // %s: what could not be restored
  SavedRecordFound,  // %s: the saved file (English also: %s the file again, %s the address)
  SaveFailedQuestion,  // %s the folder, %s why
  AdoptSavedRecord,    // %s the saved file
  RestoreCommand,      // %s the saved file, %s the XPort's address
  NoSaveFolder,
  SavedRecordUnreadable,  // %s: the file's path
  XPortRestored,
  DataFileError,
  // The data file.
  CantOpenDataFile,
  DataFileReadError,
  NotEnoughMemory,
  NotEnoughMemoryForImages,
  // The device link.
  EnterPort,
  PortQuestion,
  SocketLayerFailed,  // %s: the error code
  SocketFailed,
  ConnectFailed,  // %s: the socket error code
  SendFailed,     // %s: the socket error code
  ReceiveFailed,  // %s: the socket error code
  ReceiveFromDeviceFailed,
  TimedOut,
  // The XPort queries.
  UdpOpenFailed,
  UdpBindFailed,
  UdpSendFailed,
  // Console and command line.
  DataFileLookedIn,
  PressEnter,        // a notice's wait on a terminal
  AnswerEndOfInput,  // a question's answer when the input has ended
  HelpUsageLabel,
  HelpUsageOr,  // before each further usage form
  HelpOptionsLabel,
  HelpPositionalsLabel,
  HelpHelp,
  HelpVersion,
  HelpLang,
  HelpCliDescription,
  HelpAddress,
  HelpPort,
  HelpYes,
  HelpDataFile,
  HelpRestoreXPort,
  HelpCliFooter,  // %s: the per-user data folder
  HelpCliExamples,
  HelpDialogDescription,
  HelpDialogFile,
  HelpDialogFooter,  // %s: the per-user data folder
  // Batches of devices (the fleet engine, DERURUZUD-cli's batch, report, history and the
  // guarded restore). "%s" in these is filled with text, in order.
  BatchQuestionHead,
  BatchQuestionFailedHead,
  BatchQuestionAsk,
  BatchQuestionAskOne,  // the same for one device
  BatchQuestionSkippedHead,
  BatchQuestionRefusedHead,
  BatchQuestionCanary,        // %s devices first, then %s
  BatchQuestionFailureLimit,  // %s failures
  BatchQuestionDataFile,      // %s: the data file's version
  PhaseQueued,
  PhasePreparing,
  PhaseXPort,
  PhaseIdentifying,
  PhaseAwaiting,
  PhaseWriting,
  PhaseVerifying,
  PhaseLeaving,
  PhaseCleanUp,
  PhaseDone,
  ResultUpdated,
  ResultFailed,
  ResultDeclined,
  ResultInterrupted,
  ResultSkipped,
  ResultRefused,
  ResultNotStarted,
  ResultWouldUpdate,
  // A run's last line: %s the result, %s the device, %s what it came to.
  ResultLine,
  ResultVersionZero,   // %s: the reason
  ResultXPortChanged,  // %s: what came before
  DeviceEndLine,       // %s the result, %s seconds, %s what it came to
  // Why a run failed, one text per failure kind; "%s" as the kind gives them.
  ReasonDataFile,
  ReasonAddressMissing,
  ReasonXPortSocket,
  ReasonXPortPortTaken,
  ReasonXPortSend,
  ReasonXPortNoReply,
  ReasonXPortRefused,
  ReasonRecordNotSaved,     // %s: why
  ReasonXPortStateUnknown,
  ReasonSocketLayer,        // %s: the error code
  ReasonPortMissing,
  ReasonSocketFailed,
  ReasonConnectFailed,      // %s: the error code
  ReasonConnectTimedOut,
  ReasonDeviceTimedOut,
  ReasonDeviceWaitFailed,
  ReasonSendFailed,         // %s: the error code
  ReasonReceiveFailed,      // %s: the error code
  ReasonWrongDevice,
  ReasonNoUpdateMode,
  ReasonUnlistedModel,      // %s: the model code, two hex digits
  ReasonVersionClear,
  ReasonBlockWrite,         // %s: the block's word address
  ReasonBulkWrite,
  ReasonVerify,
  ReasonVersionWrite,
  ReasonInterrupted,
  ReasonNotStarted,
  ReasonSignatureBad,        // %s: the key id
  ReasonSignatureUntrusted,  // %s: the key id
  ReasonSignatureMissing,
  ReasonChecksums,           // %s how many, %s the first one's line
  ColumnAddress,
  ColumnModel,
  ColumnVersion,
  ColumnResult,
  ColumnSeconds,
  ColumnReason,
  ColumnTime,
  BatchMoreDevices,     // %s: how many more devices the live view leaves out
  BatchMoreDevicesOne,  // the same for one
  BatchStopping,
  InterruptedAgain,
  BadAddress,
  BadDeviceLine,
  BadPort,
  DuplicateDevice,
  BadJobs,
  DevicesUnreadable,
  NotAReport,  // %s: the file
  BadTrustedKey,      // %s: the file
  BadSignatureFile,   // %s: the file
  DataFileFacts,      // %s version, %s the SHA-256's first 16 digits
  DataFileSigned,     // %s key id, %s trusted comment
  DataFileUnsigned,
  ChecksumCaution,    // %s how many, %s the first one's line
  NoDevices,
  RestoreOneAddress,
  ReportUnwritten,
  ReportRefused,        // %s the file, %s why
  HistoryUnwritten,     // %s the file, %s why
  HistoryUnreadable,    // %s the file, %s why
  HistoryXPortChanged,
  HistorySavedRecord,   // %s the saved file
  RestoreDiffers,       // %s the differing bytes, one per line
  RestoreDiffersAsk,    // %s the same
  HistorySkipped,
  BadHistoryCount,
  HistoryEmpty,
  HistoryNoFolder,
  RestoreOtherXPort,
  RestoreMacUnknown,
  HelpDevices,
  HelpJobs,
  HelpJson,
  HelpHistory,
  HelpCanary,
  HelpMaxFailures,
  HelpReinstall,
  HelpAllowOlder,
  HelpDryRun,
  HelpRetryFailed,
  HelpSignature,
  HelpTrustedKey,
  HelpRequireSignature,
  HelpIgnoreChecksums,
  HelpBind,
  BadCount,          // %s the option, %s the value
  TooManyJobs,       // %s the value, %s the largest
  TooManyDevices,    // %s how many, %s the largest
  BadBind,           // %s the address
  RestoreNeedsAddress,
  BindHint,
  // Discovery (DERURUZUD-cli --discover).
  HelpDiscover,
  DiscoverUnparseable,  // %s: the range as given
  DiscoverTooLarge,     // %s
  DiscoverNotUnicast,   // %s
  DiscoverSocket,
  DiscoverBroadcast,
  DiscoverBind,
  DiscoverAsking,           // %s the range, %s addresses, %s seconds at most
  DiscoverAskingOne,        // the same for one address
  DiscoverAskingBroadcast,  // %s seconds
  DiscoverHeader,
  DiscoverMustChange,
  DiscoverNoChange,
  DiscoverNoRecord,
  DiscoverAnswered,      // %s: how many
  DiscoverNoneAnswered,  // %s: the range
  DiscoverSendsRefused,  // %s: how many
  CannotWriteFile,       // %s: the file
  // The batch window of the dialogs.
  BatchMenuItem,
  BatchTitle,
  BatchRangeLabel,
  BatchScan,
  BatchScanning,         // %s: the range
  BatchAddLabel,
  BatchAdd,
  BatchOpenList,
  BatchSaveList,
  BatchFromReport,
  BatchRemove,
  BatchStart,
  BatchStop,
  BatchSaveReport,
  BatchRetryFailed,
  BatchHistory,
  BatchClose,
  BatchDetails,
  BatchStopAgain,
  BatchNoDevices,
  BatchListFilter,
  BatchReportFilter,
  BatchDataFileLabel,    // %s: the data file's path
  ColumnPort,
  ColumnMac,
  ColumnPhase,
  ColumnProgress,
  SummaryLine,           // %s: "<result> N" parts joined
  // (texts only the Qt window needs)
  BatchStopRequested,
  BatchRangeUnparseable,  // %s: the range as typed
  BatchRangeTooLarge,     // %s
  BatchRangeNotUnicast,   // %s
  BatchScanBroadcast,
  HelpBatchWindow,
  HelpBatchDevices,
  // (texts only the native Windows window needs)
  BatchWinYes,
  BatchWinNo,
  BatchWinStopping,
  BatchWinTooMany,  // %s: the most devices of one batch
  Count
};

struct CatalogEntry {
  TextId id;
  const char* japanese;
  const char* english;
};

// Every entry, in TextId order.
std::span<const CatalogEntry> Catalog();

// The text in the current language, or in the one given.
const char* Text(TextId id);
const char* Text(TextId id, Language language);
// The text in the current language with its %s conversions filled from args, in order.
std::string FormatText(TextId id, std::initializer_list<std::string_view> args);

void SetLanguage(Language language);
Language CurrentLanguage();

// The language a program runs in: "en" or "ja" from --lang when given; otherwise English
// when the user's session names a locale whose language part (before '_', '.', '@' or '-')
// is "en" (platform::UserLanguageName), and Japanese for every other name, the C and
// POSIX locales and no name at all included.
Language ChooseLanguage(std::string_view langOption);

// The value of the last --lang VALUE or --lang=VALUE among the arguments; empty when
// there is none. Read before the options are parsed, so that --help speaks it.
std::string FindLangOption(int argc, const char* const* argv);

}  // namespace panel
