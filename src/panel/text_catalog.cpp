#include "panel/text_catalog.h"

#include <array>
#include <atomic>
#include <cstring>

#include "platform/user_environment.h"

namespace panel {
namespace {

using enum TextId;

// Japanese first: the texts the program has always shown, byte for byte (half-width
// katakana stays half-width). Where both columns agree the text was English already.
constexpr CatalogEntry kCatalog[] = {
    {InitialStatus, "QUIVOの電源を入れ直してから接続して下さい。",
     "Before connecting, switch the QUIVO off and on again."},
    {Caution, "<注意>書込み中はLANケーブルを抜いたり電源を切らないで下さい。",
     // At most the two lines of the caution's rectangle, as the Japanese text takes them.
     "<Caution> Keep the LAN cable and power connected while writing."},
    {AddressLabel, "IP Address", "IP Address"},
    {PortLabel, "Port", "Port"},
    {Connect, "接続", "Connect"},
    {Exit, "終了", "Exit"},
    {CloseWhileRunning,
     "ファーム書換え処理中に終了すると正常に動作しなくなる可能性があります\n終了しますか?",
     "Exiting during a firmware update may leave the device unable to work.\n"
     "Exit anyway?"},
    {RegisterClassFailed, "ウインドウクラスを登録できませんでした",
     "Could not register the window class."},
    {CreateWindowFailed, "メインウインドウを作成できませんでした",
     "Could not create the main window."},

    {CaptionError, "Error", "Error"},
    {CaptionConfirm, "確認", "Confirm"},
    {CaptionCaution, "注意", "Caution"},

    {Connecting, "接続中...", "Connecting..."},
    {XPortSetting, "XPort設定中", "Configuring the XPort"},
    {Linked, "接続完了!確認中...", "Connected. Checking the device..."},
    {FirmWriteMode, "FIRM WRITE MODE", "FIRMWARE UPDATE MODE"},
    {Processing, "処理中...", "Processing..."},
    {Writing, "書込み中...", "Writing..."},
    {WriteFailed, "書込み失敗", "Write failed."},
    {Verifying, "ﾍﾞﾘﾌｧｲ中...", "Verifying..."},
    {WriteDone, "書込み完了", "Write complete."},
    {VersionWritten, "書込み成功", "(written)"},
    {VersionNotWritten, "書込み失敗", "(write failed)"},

    {ConfirmStart, "ファームの書換えを開始しますか？", "Start the firmware update?"},
    {ConfirmQuestion, "MAC:%s\n%s\n%s%s\n\nファームの書換えを開始しますか？",
     "MAC:%s\n%s\n%s%s\n\nStart the firmware update?"},
    {ConfirmQuestionWithFile, "MAC:%s\n%s\n%s%s%s\n\nファームの書換えを開始しますか？",
     "MAC:%s\n%s\n%s%s%s\n\nStart the firmware update?"},
    {CautionWithKT52, "\n\n(注意:KT-52-Wとの入出力延長機能が動作中は実行しないで下さい!!)\n\n",
     "\n\n(Caution: do not update while the I/O extension with a KT-52-W is active.)\n\n"},
    {CautionIoExtension, "\n\n(注意:入出力延長機能が動作中は実行しないで下さい!!)\n\n",
     "\n\n(Caution: do not update while the I/O extension is active.)\n\n"},

    {EnterAddress, "IPアドレスを入力してください", "Please enter the IP address."},
    {NoInformation, "情報を取得出来ませんでした!!処理を中断します。",
     "Could not read the XPort's information. Stopping."},
    {OverrideNotice,
     "XPortの設定DisConnectionModeにOn Mdm_Ctrl_In Drop(DTR)又は\nActive ConnectionにWith Any "
     "Characterが設定されている可能性があります。\n処理を継続する為に設定を一時的に変更します。",
     "The XPort's DisConnectionMode may be set to On Mdm_Ctrl_In Drop(DTR),\n"
     "or its Active Connection to With Any Character.\n"
     "To continue, these settings will be changed for the duration of the update and then "
     "restored."},
    {OverrideRefused,
     "XPortの設定DisConnectionModeにOn Mdm_Ctrl_In Drop(DTR)又は\nActive ConnectionにWith Any "
     "Characterが設定されている可能性があります\n設定を無効にしてください。処理を中断します。",
     "The XPort's DisConnectionMode may be set to On Mdm_Ctrl_In Drop(DTR),\n"
     "or its Active Connection to With Any Character.\n"
     "Please change these settings on the XPort, then try again. Stopping."},
    {WrongDevice, "接続機器が異なります!!処理を中断します。",
     "Wrong device connected. Stopping."},
    {NoBootMode, "ファーム書換えモードに入れませんでした!!処理を中断します。",
     "The device is not in update mode. Stopping."},
    {VersionClearError, "0x0300 Clear Error", "Could not clear the version block (0x0300)."},
    {FirstBlockWriteError, "0x026C Write Error", "Could not write block 0x026C."},
    {BlockWriteError, "0x%s Write Error", "Could not write block 0x%s."},
    {VersionWriteError, "0x0300 Write Error", "Could not write the version block (0x0300)."},
    {BulkFailed, "Error: 書込み失敗しました。\n", "Error: Write failed.\n"},
    {VerifyError, "Error: ベリファイエラー\n", "Error: Verification failed.\n"},
    {WriteComplete, "書込み完了\n", "Write complete.\n"},
    {LeaveError, "ファーム書換えモードキャンセルエラー",
     "Could not leave update mode."},
    {RestoreNotice, "変更したXPortの設定を戻します。",
     "Restoring the XPort's original settings..."},
    {RestoreRefused,
     "XPortの設定DisConnectionModeにOn Mdm_Ctrl_In Drop(DTR)及び\nActive ConnectionにWith Any "
     "Characterを設定できませんでした\n設定を確認してください。",
     "Could not set the XPort's DisConnectionMode back to On Mdm_Ctrl_In Drop(DTR)\n"
     "and its Active Connection back to With Any Character.\n"
     "Please check the XPort's settings."},
    {RestoreAdvice, "%s\n(SetupRecordファイルなどでXPortの設定を初期値に設定してください。)",
     "%s\n(Please restore the XPort's original settings, for example with a SetupRecord file.)"},
    {SavedRecordFound,
     "このXPortの元の設定が前回の処理で戻されていない可能性があります。\n保存されている設定: "
     "%s\n(DERURUZUD-cli --restore-xport <ファイル> --address <IPアドレス> で戻せます。)",
     "An earlier run may not have restored this XPort's original settings.\n"
     "Saved settings: %s\n(To restore them: DERURUZUD-cli --restore-xport %s --address %s)"},
    {SaveFailedQuestion,
     "XPortの元の設定を %s に保存できませんでした: %s\n"
     "設定を変更して続けますか? この処理が中断されると、設定を自動では元に戻せません。",
     "Could not save the XPort's original settings in %s: %s.\n"
     "Change the settings anyway? If this run is interrupted, they cannot be restored "
     "automatically."},
    {AdoptSavedRecord,
     "このXPortには前回の処理で保存された元の設定があります:\n%s\n"
     "この処理の最後に、XPortをこの設定に戻しますか?",
     "An earlier run saved this XPort's original settings:\n%s\nRestore the XPort to them "
     "at the end of this run?"},
    {RestoreCommand, "XPortの元の設定は次のコマンドで戻せます:\nDERURUZUD-cli --restore-xport %s --address %s",
     "To restore the XPort's original settings, run:\nDERURUZUD-cli --restore-xport %s "
     "--address %s"},
    {NoSaveFolder, "保存先なし", "no folder to save in"},
    {SavedRecordUnreadable, "保存されたXPortの設定を読めませんでした。\n%s",
     "Could not read the saved XPort settings.\n%s"},
    {XPortRestored, "XPortの設定を戻しました。", "The XPort's original settings have been restored."},
    {DataFileError, "Error: データファイル読込みエラー\n",
     "Could not read the data file: it is not valid or complete Intel HEX.\n"},

    {CantOpenDataFile, "Can't open data file.", "Could not open the data file."},
    {DataFileReadError, "Data file read error.", "Could not read the data file."},
    {NotEnoughMemory, "Not enough memory.", "Not enough memory."},
    {NotEnoughMemoryForImages, "Not enough memory to allocate the value!",
     "Not enough memory for the firmware images."},

    {EnterPort, "ポート番号を入力してください", "Please enter the port number."},
    {PortQuestion,
     "XPortに設定されているLocalPortと入力したPort番号が異なる可能性があります。\n"
     "XPortに設定されたLocalPortで接続しますか?",
     "The port entered (%s) differs from the LocalPort set in the XPort (%s).\n"
     "Connect using the XPort's LocalPort?"},
    {SocketLayerFailed, "%s is the err", "Could not start networking (error %s)."},
    {SocketFailed, "ソケットの作成に失敗しました。", "Could not create a network socket."},
    {ConnectFailed, "接続に失敗しました。\nError=%s", "Could not connect to the device (error %s)."},
    {SendFailed, "送信に失敗しました。切断します。\nError=%s",
     "Could not send to the device (error %s). Disconnecting."},
    {ReceiveFailed, "受信に失敗しました。切断します。\nError=%s",
     "Could not receive from the device (error %s). Disconnecting."},
    {ReceiveFromDeviceFailed, "QUIVOからの受信失敗\n", "Could not receive from the QUIVO.\n"},
    {TimedOut, "タイムアウトしました\n", "Timed out waiting for the device.\n"},

    {UdpOpenFailed, "UDPソケット作成失敗\n", "Could not create the UDP socket.\n"},
    {UdpBindFailed, "UDP受信ポート番号の指定に失敗\n",
     "Could not use UDP port 10001; another program may be using it.\n"},
    {UdpSendFailed, "サーバへの送信失敗\n", "Could not send to the XPort.\n"},

    {DataFileLookedIn, "データファイルを探した場所:", "Looked for the data file in:"},
    {PressEnter, "続行するにはEnterキーを押してください", "Press Enter to continue."},
    {AnswerEndOfInput, "n (入力の終わり)", "n (end of input)"},
    {HelpUsageLabel, "使い方", "Usage"},
    {HelpUsageOr, "または", "or"},
    {HelpOptionsLabel, "オプション", "Options"},
    {HelpPositionalsLabel, "引数", "Arguments"},
    {HelpHelp, "このヘルプを表示して終了します", "Print this help and exit"},
    {HelpVersion, "バージョンを表示して終了します", "Print the program's version and exit"},
    {HelpLang, "表示言語 (en: 英語、ja: 日本語)",
     "Display language: en (English) or ja (Japanese)"},
    {HelpCliDescription, "DERURUZUD-cli: XPortを通して機器のファームを書き換えます",
     "DERURUZUD-cli: updates the firmware of devices through their XPort, from a terminal. One "
     "device (--address) or a batch with one question for all (--devices, or --address "
     "repeated); also lists the XPorts on a network (--discover), restores an XPort's saved "
     "settings (--restore-xport) and prints the last runs (--history)."},
    {HelpAddress,
     "機器のIPアドレス (IP Addressの欄、15文字まで)。繰り返すと複数台をまとめて書換えます",
     "Device IP address (up to 15 characters); repeat it to update several devices in one batch"},
    {HelpPort,
     "機器のTCPポート (Portの欄)。まとめて書換えるときはポートの書かれていない機器すべてに"
     "使います (省略時: XPortのLocalPort)",
     "Device TCP port (default 10003). In a batch: the port of every device without a :PORT of "
     "its own (default there: the XPort's LocalPort)"},
    {HelpYes, "すべての確認に「はい」と答えます", "Answer Yes to every question, and never wait for Enter"},
    {HelpDataFile, "Intel HEXのデータファイル (省略時は下の順に探します)",
     "Intel HEX data file (default: looked for in the places below)"},
    {HelpRestoreXPort, "書換えの前に保存したXPortの設定を --address のXPortに戻して終了します",
     "Restore the XPort settings that an unfinished update saved in FILE to the XPort at "
     "--address, then exit"},
    {HelpCliFooter,
     "データファイル: --data-file を指定したときはそのファイルだけを使います。指定がなければ、"
     "プログラムと同じフォルダのquivo.HEX、次に %s のquivo.HEXを使います。\n\n"
     "表示言語: --lang en|ja。指定がなければ、LC_ALL、LC_MESSAGES、LANGのうち最初に設定されて"
     "いるものがenで始まるとき (Windowsではユーザーの表示言語が英語のとき) 英語、それ以外は"
     "日本語です。\n\n"
     "終了ステータス: 0 全台の書換え成功、1 失敗・書換えせず・データファイルを読めなかった"
     "とき、2 使い方の誤り (何も送信しません)、130 Ctrl-C で中断したとき。",
     "Data file: with --data-file FILE, that file and no other. Otherwise quivo.HEX beside the "
     "program, then quivo.HEX in %s.\n"
     "\nLanguage: --lang en|ja; otherwise English when the first of LC_ALL, LC_MESSAGES and "
     "LANG that is set starts with \"en\" (on Windows: when the user's display language is "
     "English), and Japanese in every other case, C and C.UTF-8 included.\n"
     "\nExit status: 0 when every device ends at the data file's version (updated or skipped; "
     "with --dry-run: would be updated) and no XPort is left changed; 1 otherwise (a failure, a "
     "No, a refusal, a data file that cannot be read or used); 2 for a usage error (nothing is "
     "sent); 130 after Ctrl-C."},
    {HelpCliExamples,
     "例:\n"
     "  DERURUZUD-cli --address 192.168.0.20\n"
     "      192.168.0.20 の機器のファームを書換えます (機器の電源を入れ直してから)。"
     "書込みの前に確認します。\n"
     "  DERURUZUD-cli --devices plant3.txt --jobs 16 --yes --json report.json\n"
     "      plant3.txt に書かれた機器を16台ずつ、確認なしで書換え、結果を report.json に"
     "書きます。\n"
     "  DERURUZUD-cli --discover 192.168.0.0/24\n"
     "      192.168.0.0/24 で応答するXPortと、書換えでその設定の変更が必要かを一覧にします。",
     "Examples:\n"
     "  DERURUZUD-cli --address 192.168.0.20\n"
     "      Update the device at 192.168.0.20 (switch it off and on first); asks before "
     "writing.\n"
     "  DERURUZUD-cli --devices plant3.txt --jobs 16 --yes --json report.json\n"
     "      Update every device listed in plant3.txt, 16 at a time, without questions, and "
     "write the results to report.json.\n"
     "  DERURUZUD-cli --discover 192.168.0.0/24\n"
     "      List the XPorts that answer on 192.168.0.0/24 and whether an update must change "
     "their settings."},
    {HelpDialogDescription, "DERURUZUD: 機器のファームを書き換える操作画面",
     "DERURUZUD: the operator's dialog that updates a device's firmware"},
    {HelpDialogFile, "Intel HEXのデータファイル", "Intel HEX data file"},
    {HelpDialogFooter,
     "データファイル: FILE (または --data-file) を指定したときはそのファイルだけを使います。"
     "指定がなければ、画面にドロップしたファイル、次にプログラムと同じフォルダのquivo.HEX、"
     "次に %s のquivo.HEXを使います。\n\n"
     "表示言語: --lang en|ja。指定がなければ LC_ALL、LC_MESSAGES、LANG で決まります "
     "(DERURUZUD-cli --help を参照)。",
     "Data file: FILE (or --data-file FILE) when given, and no other. Otherwise a file dropped "
     "on the window, then quivo.HEX beside the program, then quivo.HEX in %s.\n"
     "\nLanguage: --lang en|ja; otherwise LC_ALL, LC_MESSAGES and LANG decide (see "
     "DERURUZUD-cli --help)."},

    {BatchQuestionHead, "次の機器のファームを書換えます:", "Devices to update:"},
    {BatchQuestionFailedHead,
     "識別できなかった機器 (書換えません):",
     "Devices that could not be identified (will not be updated):"},
    {BatchQuestionAsk, "%s台のファームの書換えを開始しますか？", "Start updating %s devices?"},
    {BatchQuestionAskOne, "%s台のファームの書換えを開始しますか？", "Start updating %s device?"},
    {BatchQuestionSkippedHead, "データファイルと同じバージョンの機器 (書換えません):",
     "Already at the data file's version (will not be updated):"},
    {BatchQuestionRefusedHead, "データファイルより新しいバージョンの機器 (書換えません):",
     "Newer than the data file (will not be updated):"},
    {BatchQuestionCanary, "先に%s台を書換え、すべて成功したら残りの%s台を書換えます。",
     "%s first; the other %s only if no device in the first group fails."},
    {BatchQuestionFailureLimit, "%s台が失敗したら、それ以降は書換えを開始しません。",
     "No further devices will be started once the number of failures reaches %s."},
    {BatchQuestionDataFile, "データファイルのバージョン: %s", "Data file version: %s"},
    {PhaseQueued, "待機中", "queued"},
    {PhasePreparing, "準備中", "preparing"},
    {PhaseXPort, "XPort確認中", "checking XPort"},
    {PhaseIdentifying, "識別中", "identifying"},
    {PhaseAwaiting, "確認待ち", "waiting for answer"},
    {PhaseWriting, "書込み中", "writing"},
    {PhaseVerifying, "ベリファイ中", "verifying"},
    {PhaseLeaving, "書換えモード終了中", "leaving update mode"},
    {PhaseCleanUp, "後処理中", "cleaning up"},
    {PhaseDone, "終了", "done"},
    {ResultUpdated, "書換え完了", "updated"},
    {ResultFailed, "失敗", "failed"},
    {ResultDeclined, "書換えせず", "declined"},
    {ResultInterrupted, "中断", "interrupted"},
    {ResultSkipped, "スキップ (同じバージョン)", "skipped"},
    {ResultRefused, "拒否 (ダウングレード)", "refused"},
    {ResultNotStarted, "未実施", "not started"},
    {ResultWouldUpdate, "書換え予定", "would update"},
    {ResultLine, "%s %s: %s", "%s %s: %s"},
    {ResultVersionZero, "%s (機器のバージョンは0になっています。もう一度書換えてください)",
     "%s; the device shows version 0 and must be updated again"},
    {ResultXPortChanged, "%s (XPortの設定は変更されたままです)",
     "%s; the XPort's settings are still changed"},
    {DeviceEndLine, "%s (%s秒): %s", "%s in %s s: %s"},
    // The Japanese reasons are the notices that have always said what went wrong.
    {ReasonDataFile, "データファイル読込みエラー", "the data file could not be read"},
    {ReasonAddressMissing, "IPアドレスを入力してください", "no device address"},
    {ReasonXPortSocket, "UDPソケット作成失敗", "could not create a UDP socket"},
    {ReasonXPortPortTaken, "UDP受信ポート番号の指定に失敗", "UDP port 10001 is in use"},
    {ReasonXPortSend, "サーバへの送信失敗", "could not send to the XPort"},
    {ReasonXPortNoReply, "情報を取得出来ませんでした!!処理を中断します。",
     "the XPort did not answer"},
    {ReasonXPortRefused,
     "XPortの設定DisConnectionModeにOn Mdm_Ctrl_In Drop(DTR)又は\nActive ConnectionにWith Any "
     "Characterが設定されている可能性があります\n設定を無効にしてください。処理を中断します。",
     "the XPort refused the settings change"},
    {ReasonRecordNotSaved, "XPortの元の設定を保存できませんでした (%s)",
     "the XPort's original settings could not be saved (%s)"},
    {ReasonXPortStateUnknown, "XPortの設定が変更されたか確認できませんでした",
     "could not tell whether the XPort's settings were changed"},
    {ReasonSocketLayer, "%s is the err", "could not start networking (error %s)"},
    {ReasonPortMissing, "ポート番号を入力してください", "no TCP port"},
    {ReasonSocketFailed, "ソケットの作成に失敗しました。", "could not create a socket"},
    {ReasonConnectFailed, "接続に失敗しました。\nError=%s",
     "could not connect to the device (error %s)"},
    {ReasonConnectTimedOut, "接続に失敗しました。\nError=%s",
     "the device did not answer the connection (error %s)"},
    {ReasonDeviceTimedOut, "タイムアウトしました", "timed out waiting for the device"},
    {ReasonDeviceWaitFailed, "QUIVOからの受信失敗", "waiting for the device failed"},
    {ReasonSendFailed, "送信に失敗しました。切断します。\nError=%s",
     "sending to the device failed (error %s)"},
    {ReasonReceiveFailed, "受信に失敗しました。切断します。\nError=%s",
     "receiving from the device failed (error %s)"},
    {ReasonWrongDevice, "接続機器が異なります!!処理を中断します。", "wrong device"},
    {ReasonNoUpdateMode, "ファーム書換えモードに入れませんでした!!処理を中断します。",
     "the device is not in update mode"},
    {ReasonUnlistedModel, "未登録の機種です (0x%s)", "unsupported model (0x%s)"},
    {ReasonVersionClear, "0x0300 Clear Error", "the version block was not cleared"},
    {ReasonBlockWrite, "0x%s Write Error", "block 0x%s was not written"},
    {ReasonBulkWrite, "Error: 書込み失敗しました。", "the write failed"},
    {ReasonVerify, "Error: ベリファイエラー", "verification failed"},
    {ReasonVersionWrite, "0x0300 Write Error", "the version block was not written"},
    {ReasonInterrupted, "中断しました", "the run was stopped"},
    {ReasonNotStarted, "開始しませんでした", "held back after earlier failures"},
    {ReasonSignatureBad, "データファイルの署名が一致しません (鍵 %s)",
     "the data file's signature does not verify (key %s)"},
    {ReasonSignatureUntrusted, "データファイルの署名の鍵 %s は信頼されていません",
     "the data file is signed by key %s, which is not trusted"},
    {ReasonSignatureMissing, "データファイルが署名されていません",
     "the data file is not signed"},
    {ReasonChecksums, "チェックサムの合わないレコードが %s 件あります (最初は %s 行目)",
     "records with a wrong checksum: %s (the first on line %s)"},
    {ColumnAddress, "アドレス", "Address"},
    {ColumnModel, "機種", "Model"},
    {ColumnVersion, "バージョン", "Version"},
    {ColumnResult, "結果", "Result"},
    {ColumnSeconds, "秒", "Seconds"},
    {ColumnReason, "理由", "Reason"},
    {ColumnTime, "日時", "Time (UTC)"},
    {BatchMoreDevices, "...ほか %s 台", "... and %s more devices"},
    {BatchMoreDevicesOne, "...ほか %s 台", "... and %s more device"},
    {BatchStopping,
     "中断します: 各機器の後処理 (書換えモード終了・XPort設定の復元) を行っています。"
     "もう一度 Ctrl-C で即時終了します。",
     "Stopping: finishing each device's clean-up (leaving update mode, restoring XPort "
     "settings). Press Ctrl-C again to quit at once."},
    {InterruptedAgain, "\nもう一度中断されたため、すぐに終了します。\n", "\nInterrupted again: quitting now.\n"},
    {BadAddress,
     "%s: IPv4アドレス (例 192.168.0.20) として読めません",
     "%s: not a valid IPv4 address (dotted decimal without leading zeros, e.g. 192.168.0.20)"},
    {BadDeviceLine,
     "%s の %s 行目「%s」: ADDRESS[:PORT] として読めません",
     "%s, line %s, \"%s\": expected ADDRESS or ADDRESS:PORT"},
    {BadPort, "%s: ポート番号は 1 から 65535 です", "%s: the port must be a number from 1 to 65535"},
    {DuplicateDevice, "%s: 同じ機器が2回指定されています (%s と %s)", "%s is given twice (%s and %s)"},
    {BadJobs, "--jobs %s: 1 以上の数を指定してください", "--jobs %s: must be a whole number of 1 or more"},
    {DevicesUnreadable, "%s: 機器リストを読めません", "%s: cannot read the devices file"},
    {NotAReport, "%s: DERURUZUD-cli --json のレポートではありません",
     "%s: not a report written by DERURUZUD-cli --json"},
    {BadTrustedKey, "%s: minisign の公開鍵として読めません", "%s: not a minisign public key"},
    {BadSignatureFile, "%s: minisign の署名として読めません", "%s: not a minisign signature"},
    {DataFileFacts, "データファイル: バージョン %s、SHA-256 %s...",
     "Data file: version %s, SHA-256 %s..."},
    {DataFileSigned, "署名: 鍵 %s (%s)", "Signed by key %s (%s)"},
    {DataFileUnsigned, "署名なし (署名されていないデータファイルです)",
     "Unsigned: the data file has no signature."},
    {ChecksumCaution,
     "データファイルにチェックサムの合わないレコードが %s 件あります (最初は %s 行目)。",
     "The data file has records whose checksum is wrong: %s (the first on line %s)."},
    {NoDevices, "%s: 機器が1台も書かれていません", "%s: no devices listed"},
    {RestoreOneAddress,
     "--restore-xport には --address を1つだけ指定してください",
     "--restore-xport takes exactly one --address"},
    {ReportUnwritten, "%s: レポートを書けませんでした", "%s: could not write the report"},
    {ReportRefused, "%s: ここにはレポートを書けません (%s)",
     "%s: cannot write the report there (%s)"},
    {HistoryUnwritten, "実行記録を %s に書けませんでした (%s)",
     "Could not write the history line to %s (%s)"},
    {HistoryUnreadable, "%s: 実行記録を読めません (%s)", "%s: cannot read the history (%s)"},
    {HistoryXPortChanged, "XPortの設定は変更されたままです", "the XPort's settings are still changed"},
    {HistorySavedRecord, "保存された設定: %s", "saved record: %s"},
    {RestoreDiffers,
     "保存された設定は、変更した2バイトのほかにもXPortの今の設定と異なります "
     "(バイト: XPort → 保存):\n%s\n送りません。ファイルはそのまま残しています。",
     "The saved settings differ from the XPort's current ones in more than the two bytes "
     "that were changed (byte: XPort -> saved):\n%s\nNot sent; the file is kept."},
    {RestoreDiffersAsk,
     "保存された設定は、変更した2バイトのほかにもXPortの今の設定と異なります "
     "(バイト: XPort → 保存):\n%s\nこの設定をXPortに送りますか?",
     "The saved settings differ from the XPort's current ones in more than the two bytes "
     "that were changed (byte: XPort -> saved):\n%s\nSend them to the XPort anyway?"},
    {HistorySkipped, "%s の %s 行目は実行記録として読めないため飛ばします", "%s, line %s: not a run record; skipped"},
    {BadHistoryCount, "--history %s: 件数を数字で指定してください", "--history %s: N must be a whole number"},
    {HistoryEmpty, "実行記録はまだありません (%s)", "No runs recorded yet (%s)."},
    {HistoryNoFolder, "状態フォルダが見つかりません", "No state folder found."},
    {RestoreOtherXPort,
     "この設定は MAC %s のXPortから保存されたものです。\n%s のXPortの MAC は %s です。\n"
     "別のXPortには送りません。ファイルはそのまま残しています:\n%s",
     "This record was saved from the XPort with MAC %s.\n"
     "The XPort at %s has MAC %s.\nNothing was sent, to avoid writing another XPort's settings. "
     "The file is kept:\n%s"},
    {RestoreMacUnknown,
     "この設定ファイルには保存元のXPortの MAC が記されていません (ファイル名からも分かりません)。\n"
     "別のXPortに送らないよう、送らずにファイルを残しています:\n%s",
     "This record file does not say which XPort it was saved from (nor does its name).\n"
     "Nothing was sent, to avoid writing another XPort's settings. The file is kept:\n"
     "%s"},
    {HelpDevices,
     "1行に1台 ADDRESS[:PORT] を書いたファイル (空行と # のコメントは無視): 複数台をまとめて書換えます",
     "File with one ADDRESS or ADDRESS:PORT per line (blank lines and # comments are ignored): "
     "update every device listed, in one batch"},
    {HelpJobs,
     "まとめて書換えるとき、同時に通信する台数の上限 (省略時: 全台、最大 64)",
     "In a batch, update at most N devices at the same time (default: all, at most 64)"},
    {HelpJson,
     "各機器の結果をJSONで FILE に書きます (- は標準出力)。--discover では見つかったXPortの一覧",
     "Write each device's report as JSON to FILE (- for standard output); with --discover, the "
     "XPorts found"},
    {HelpHistory,
     "最近の N 回 (省略時 20) の実行記録を表示して終了します",
     "Print the last N runs (default 20), then exit"},
    {HelpCanary, "最初の N 台を先に書換え、すべて成功したら残りを書換えます",
     "Update the first N devices first, and the others only if all N succeed"},
    {HelpMaxFailures, "K 台が書込みに失敗したら、それ以降の機器は開始しません",
     "Start no further devices once K devices have failed while writing"},
    {HelpReinstall, "データファイルと同じバージョンの機器も書換えます",
     "Also update devices already at the data file's version"},
    {HelpAllowOlder, "データファイルより新しいバージョンの機器も書換えます (ダウングレード)",
     "Also update devices newer than the data file (a downgrade)"},
    {HelpDryRun, "識別とバージョンの判定だけを行い、書換えません",
     "Identify every device and say what would be done; write nothing"},
    {HelpRetryFailed, "以前のレポート (--json) で書換えが完了しなかった機器を対象にします",
     "Update the devices of an earlier report (--json) that did not end at the data file's "
     "version"},
    {HelpSignature, "データファイルの minisign 署名 (省略時: データファイル名.minisig)",
     "The data file's minisign signature (default: the data file's name with .minisig added)"},
    {HelpTrustedKey, "信頼する minisign の公開鍵 (繰り返し指定できます)",
     "A trusted minisign public key (may be repeated)"},
    {HelpRequireSignature, "信頼する鍵で署名されていないデータファイルは書込みません",
     "Refuse a data file that no trusted key has signed"},
    {HelpIgnoreChecksums, "--yes でもチェックサムの合わないレコードを含むデータファイルを書込みます",
     "With --yes, write a data file with wrong record checksums anyway"},
    {HelpBind, "UDP 10001 と TCP 接続に使うこのPCのアドレス",
     "This computer's address for UDP port 10001 and the TCP connections"},
    {BadCount, "%s %s: 1 以上の数を指定してください", "%s %s: must be a whole number of 1 or more"},
    {TooManyJobs, "--jobs %s: 最大 %s です", "--jobs %s: at most %s"},
    {TooManyDevices, "%s 台: 一度に書換えられるのは最大 %s 台です",
     "%s devices: a batch holds at most %s"},
    {BadBind, "--bind %s: このPCのアドレスではありません", "--bind %s: not an address of this computer"},
    {RestoreNeedsAddress, "--restore-xport には --address が必要です",
     "--restore-xport needs --address"},
    {BindHint,
     "UDPポート10001をほかのプログラムが使用中です。終わるのを待つか、--bind でこのPCの別のアドレスを"
     "指定してください。",
     "UDP port 10001 is in use by another program: wait for it to end, or give --bind another "
     "address of this computer."},
    {HelpDiscover,
     "RANGE (/20までのIPv4のCIDR、またはbroadcast) で応答するXPortを一覧にして終了します: "
     "アドレス、MACアドレス、機器のTCPポート、更新でXPortの設定を変更する必要があるか。"
     "読み取るだけです",
     "List the XPorts that answer in RANGE (an IPv4 CIDR up to /20, e.g. 192.168.0.0/24, or "
     "broadcast): address, MAC, the device's TCP port, and whether an update must change the "
     "XPort's settings. Read-only; then exit"},
    {DiscoverUnparseable,
     "--discover: 範囲「%s」を読めません。192.168.0.0/24 のような IPv4 の CIDR か broadcast "
     "を指定してください。",
     "--discover: cannot read the range \"%s\"; give an IPv4 CIDR such as 192.168.0.0/24, or "
     "broadcast."},
    {DiscoverTooLarge, "--discover: 範囲「%s」は広すぎます。/20 (4,096 アドレス) までにしてください。",
     "--discover: the range \"%s\" is too large: at most /20 (4,096 addresses)."},
    {DiscoverNotUnicast,
     "--discover: 範囲「%s」は機器のアドレスではありません (0.x.x.x、マルチキャスト、予約済み)。",
     "--discover: the range \"%s\" holds no device addresses (0.x.x.x, multicast or "
     "reserved)."},
    {DiscoverSocket, "--discover: UDPソケットを作成できません。",
     "--discover: cannot create a UDP socket."},
    {DiscoverBroadcast, "--discover: ブロードキャストが許可されていません。",
     "--discover: broadcasting is not permitted."},
    {DiscoverBind,
     "--discover: UDPポート10001を使えません。ほかのプログラムが使用中かもしれません。",
     "--discover: UDP port 10001 is not available; another program may be using it."},
    {DiscoverAsking, "%s の %s アドレスに問い合わせ中 (最長 約%s秒)...",
     "Querying %s (%s addresses, up to about %s s)..."},
    {DiscoverAskingOne, "%s の %s アドレスに問い合わせ中 (最長 約%s秒)...",
     "Querying %s (%s address, up to about %s s)..."},
    {DiscoverAskingBroadcast, "ブロードキャストで問い合わせ中 (約%s秒)...",
     "Querying by broadcast (about %s s)..."},
    {DiscoverHeader, "アドレス        MACアドレス        ポート XPortの設定",
     "Address         MAC                Port   XPort settings"},
    {DiscoverMustChange, "変更が必要 (更新が約16秒長くなります)",
     "change needed (the update takes about 16 s longer)"},
    {DiscoverNoChange, "変更不要", "no change needed"},
    {DiscoverNoRecord, "不明 (設定レコードの応答なし)", "unknown (no reply to the setup record query)"},
    {DiscoverAnswered, "%s 台のXPortが応答しました。", "XPorts that answered: %s."},
    {DiscoverNoneAnswered, "応答したXPortはありません (%s)。", "No XPort answered (%s)."},
    {DiscoverSendsRefused, "%s 件の問い合わせは送信できませんでした。",
     "Queries that could not be sent: %s."},
    {CannotWriteFile, "%s に書き込めません。", "Could not write %s."},

    {BatchMenuItem, "一括書換え...", "Batch update..."},
    {BatchTitle, "DERURUZUD - 一括書換え", "DERURUZUD - Batch update"},
    {BatchRangeLabel, "範囲", "Range"},
    {BatchScan, "検索", "Scan"},
    {BatchScanning, "%s を検索中...", "Scanning %s..."},
    {BatchAddLabel, "アドレス", "Addresses"},
    {BatchAdd, "追加", "Add"},
    {BatchOpenList, "機器リストを開く...", "Open list..."},
    {BatchSaveList, "機器リストを保存...", "Save list..."},
    {BatchFromReport, "レポートから...", "From report..."},
    {BatchRemove, "削除", "Remove"},
    {BatchStart, "開始", "Start"},
    {BatchStop, "停止", "Stop"},
    {BatchSaveReport, "レポートを保存...", "Save report..."},
    {BatchRetryFailed, "失敗した機器を再試行", "Retry failed devices"},
    {BatchHistory, "履歴", "History"},
    {BatchClose, "閉じる", "Close"},
    {BatchDetails, "詳細", "Details"},
    {BatchStopAgain,
     "各機器の後処理 (書換えモード終了・XPort設定の復元) を待たずに、すぐに終了しますか?\n"
     "保存されたXPortの設定は DERURUZUD-cli --restore-xport で戻せます。",
     "Quit at once, without waiting for each device's clean-up (leaving update mode, restoring "
     "XPort settings)?\nSaved XPort settings can be restored with DERURUZUD-cli --restore-xport."},
    {BatchNoDevices, "チェックされた機器がありません。", "No devices are checked."},
    {BatchListFilter, "機器リスト (*.txt)", "Device lists (*.txt)"},
    {BatchReportFilter, "レポート (*.json)", "Reports (*.json)"},
    {BatchDataFileLabel, "データファイル: %s", "Data file: %s"},
    {ColumnPort, "ポート", "Port"},
    {ColumnMac, "MAC", "MAC"},
    {ColumnPhase, "状態", "Phase"},
    {ColumnProgress, "進捗", "Progress"},
    {SummaryLine, "結果: %s", "Results: %s"},
    // (texts only the Qt window needs)
    {BatchStopRequested,
     "中断します: 各機器の後処理 (書換えモード終了・XPort設定の復元) を行っています。"
     "もう一度「停止」を押すと、すぐに終了します。",
     "Stopping: each device's clean-up (leave command, XPort restore) is running. Press Stop "
     "again to end at once."},
    {BatchRangeUnparseable,
     "範囲「%s」を読めません。192.168.0.0/24 のような IPv4 の CIDR か broadcast を指定してください。",
     "Cannot read the range \"%s\": give an IPv4 CIDR such as 192.168.0.0/24, or broadcast."},
    {BatchRangeTooLarge, "範囲「%s」は広すぎます。/20 (4,096 アドレス) までにしてください。",
     "The range \"%s\" is too large: at most /20 (4,096 addresses)."},
    {BatchRangeNotUnicast,
     "範囲「%s」は機器のアドレスではありません (0.x.x.x、マルチキャスト、予約済み)。",
     "The range \"%s\" holds no device addresses (0.x.x.x, multicast or reserved)."},
    {BatchScanBroadcast, "ブロードキャストが許可されていません。", "Broadcasting is not permitted."},
    {HelpBatchWindow, "一括書換えのウィンドウを開きます", "Open the batch update window"},
    {HelpBatchDevices,
     "--batch で: 1行に1台 ADDRESS[:PORT] を書いたファイルを機器リストに読み込みます",
     "With --batch: read a file with one ADDRESS[:PORT] per line into the device list"},
    // (texts only the native Windows window needs)
    // The question's buttons, with the keys a Windows message box gives them.
    {BatchWinYes, "はい(&Y)", "&Yes"},
    {BatchWinNo, "いいえ(&N)", "&No"},
    {BatchWinStopping,
     "中断します: 各機器の後処理 (書換えモード終了・XPort設定の復元) を行っています。"
     "もう一度「停止」で即時終了します。",
     "Stopping: each device's clean-up (leave command, XPort restore) is running. Press "
     "Stop again to end at once."},
    {BatchWinTooMany, "一度に書換えられるのは %s 台までです。",
     "At most %s devices can be updated in one batch."},
};

constexpr bool EveryKeyInItsPlace() {
  if (std::size(kCatalog) != static_cast<std::size_t>(TextId::Count)) return false;
  for (std::size_t i = 0; i < std::size(kCatalog); ++i) {
    if (static_cast<std::size_t>(kCatalog[i].id) != i) return false;
  }
  return true;
}
static_assert(EveryKeyInItsPlace(), "one entry per key, in the keys' order");

std::atomic<Language> g_language{Language::Japanese};

}  // namespace

std::span<const CatalogEntry> Catalog() {
  return kCatalog;
}

const char* Text(TextId id, Language language) {
  const CatalogEntry& e = kCatalog[static_cast<std::size_t>(id)];
  return language == Language::English ? e.english : e.japanese;
}

const char* Text(TextId id) {
  return Text(id, g_language.load(std::memory_order_relaxed));
}

std::string FormatText(TextId id, std::initializer_list<std::string_view> args) {
  const std::string_view format = Text(id);
  std::string out;
  auto next = args.begin();
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
      if (next != args.end()) out += *next++;
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

void SetLanguage(Language language) {
  g_language.store(language, std::memory_order_relaxed);
}

Language CurrentLanguage() {
  return g_language.load(std::memory_order_relaxed);
}

Language ChooseLanguage(std::string_view langOption) {
  if (langOption == "en") return Language::English;
  if (langOption == "ja") return Language::Japanese;
  const std::string name = platform::UserLanguageName();
  const std::string_view code = std::string_view(name).substr(0, name.find_first_of("_.@-"));
  return code == "en" ? Language::English : Language::Japanese;
}

std::string FindLangOption(int argc, const char* const* argv) {
  std::string value;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i] ? argv[i] : "";
    if (arg == "--lang" && i + 1 < argc && argv[i + 1]) {
      value = argv[++i];
    } else if (arg.starts_with("--lang=")) {
      value = arg.substr(std::strlen("--lang="));
    }
  }
  return value;
}

}  // namespace panel
