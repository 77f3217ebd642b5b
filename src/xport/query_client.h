// QueryClient: the UDP exchanges with the XPort's configuration port, and the records
// kept from them.
//
// Each exchange opens, binds (local port 10001), uses and closes its own socket; it sends
// one request to port 30718 at the device address (SharedBuffers::AddressText) and takes
// the first datagram from that address within the wait as the reply. Only the worker
// thread uses a QueryClient.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "panel/dialog_host.h"
#include "platform/socket.h"
#include "xport/query_port.h"
#include "xport/shared_buffers.h"

namespace xport {

inline constexpr std::uint16_t kQueryLocalPort = 10001;
inline constexpr std::uint16_t kConfigPort = 30718;
inline constexpr int kReplyWaitMs = 5000;
inline constexpr int kRecordSize = 124;
inline constexpr int kInfoSize = 30;

using SetupRecordBytes = std::array<std::uint8_t, kRecordSize>;
using XPortInfoBytes = std::array<std::uint8_t, kInfoSize>;

// The rules over a setup record's bytes, for a record held outside a QueryClient too.
// True when byte 32's low nibble is 1, or byte 33 is 0x80.
bool RecordNeedsOverride(const SetupRecordBytes& record);
// Bytes 24 (low) and 25 (high).
std::uint16_t RecordLocalPort(const SetupRecordBytes& record);

class QueryClient {
 public:
  // owner receives the socket notices; shared holds the buffers and the address text.
  QueryClient(panel::DialogHost& owner, SharedBuffers& shared);

  // Info query 00 00 00 F6. Returns 1 and replaces XPortInfo with the reply's first 30
  // bytes when a reply of at least 30 bytes came; 0 otherwise (XPortInfo untouched).
  int QueryXPortInfo();
  // Get-setup-record query 00 00 00 F8; 1 and SetupRecord replaced by the reply's first
  // 124 bytes when at least 124 came; 0 otherwise (SetupRecord untouched).
  int QuerySetupRecord();
  // Sends the first length bytes (at most 256) of record; 1 when the reply begins
  // 00 00 00 FB.
  int SendSetupRecord(const std::uint8_t* record, int length);

  // True when byte 32's low nibble is 1, or byte 33 is 0x80.
  bool NeedsOverride() const;
  // SetRecord = SetupRecord with header 00 00 00 FA, byte 32 = C0, byte 33 = 00.
  void BuildOverrideRecord();
  // SetRecord = SetupRecord with header 00 00 00 FA.
  void BuildRestoreRecord();
  // The 17-character MAC text of XPortInfo bytes 24..29, "%2.2X-%2X-%2X-%2X-%2X-%2X".
  std::string FormatMacAddress() const;

  // SetupRecord bytes 24 (low) and 25 (high); 0 before any successful query.
  std::uint16_t LocalPort() const;

  const XPortInfoBytes& XPortInfo() const { return xportInfo_; }
  const SetupRecordBytes& SetupRecord() const { return setupRecord_; }
  const SetupRecordBytes& SetRecord() const { return setRecord_; }

  // The exchanges go through port from now on (null: a socket of the client's own for each
  // exchange, the default). The port must outlive the client's use of it.
  void UseQueryPort(QueryPort* port) { port_ = port != nullptr ? port : &ownPort_; }

  // Tests shorten the reply wait; production keeps kReplyWaitMs.
  void SetReplyWaitMs(int ms) { replyWaitMs_ = ms; }
  int ReplyWaitMs() const { return replyWaitMs_; }

 private:
  enum class Request { Info, Setup, Set };
  int Exchange(Request request, const std::uint8_t* record, int length);

  bool OpenQuerySocket();
  int BindQuerySocket(std::uint16_t localPort, std::uint16_t destinationPort,
                      const char* addressText);
  int SendQuery(const std::uint8_t* data, int length);
  int WaitQueryReadable(int ms);
  int ReceiveReply(std::uint8_t* buffer);
  void CloseQuerySocket();

  panel::DialogHost& owner_;
  SharedBuffers& shared_;
  XPortInfoBytes xportInfo_{};
  SetupRecordBytes setupRecord_{};
  SetupRecordBytes setRecord_{};
  SocketQueryPort ownPort_;
  QueryPort* port_ = &ownPort_;  // the exchange's socket steps
  platform::Ipv4Endpoint destination_{};
  int replyWaitMs_ = kReplyWaitMs;
};

}  // namespace xport
