// QueryClient: the UDP exchanges with the XPort's configuration port, and the records
// kept from them.
//
// Each exchange opens, binds (local port 10001, on the local address given, every one by
// default), uses and closes its own socket; it sends one request to port 30718 at the
// device's address and takes the first datagram from that address within the wait as the
// reply. Each exchange owns its bytes. Only the session's thread uses a QueryClient.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "panel/events.h"
#include "platform/socket.h"
#include "xport/query_port.h"
#include "xport/wire.h"

namespace xport {

// Why the last exchange failed.
enum class ExchangeFailure {
  None,
  Open,     // no UDP socket (its notice shown)
  Bind,     // local port 10001 could not be bound (its notice shown)
  Send,     // the request could not be sent (its notice shown)
  NoReply,  // nothing acceptable came within the wait (no notice: the caller's)
};

class QueryClient {
 public:
  // events receives the socket notices.
  explicit QueryClient(panel::RunObserver& events);

  // The XPort's address for the exchanges to come (host order).
  void UseAddress(std::uint32_t address) { address_ = address; }
  std::uint32_t Address() const { return address_; }
  // The local address the exchanges bind (host order; 0: every local address).
  void UseLocalAddress(std::uint32_t address) { localAddress_ = address; }

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
  // "00-20-4A-0B-4C-0E": XPortInfo bytes 24..29, two digits each.
  std::string FormatMacAddress() const;
  Mac MacAddress() const { return MacOfInfo(xportInfo_); }

  // SetupRecord bytes 24 (low) and 25 (high); 0 before any successful query.
  std::uint16_t LocalPort() const;

  const XPortInfoBytes& XPortInfo() const { return xportInfo_; }
  const SetupRecordBytes& SetupRecord() const { return setupRecord_; }
  const SetupRecordBytes& SetRecord() const { return setRecord_; }
  ExchangeFailure LastFailure() const { return lastFailure_; }

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
  int BindQuerySocket(std::uint16_t localPort, std::uint16_t destinationPort);
  int SendQuery(const std::uint8_t* data, int length);
  int WaitQueryReadable(int ms);
  // The reply's length (its bytes at the start of buffer, the rest zero), or -1.
  int ReceiveReply(std::array<std::uint8_t, 1024>& buffer);
  void CloseQuerySocket();
  void Notice(panel::TextId text);

  panel::RunObserver& events_;
  std::uint32_t address_ = 0;
  std::uint32_t localAddress_ = 0;
  XPortInfoBytes xportInfo_{};
  SetupRecordBytes setupRecord_{};
  SetupRecordBytes setRecord_{};
  SocketQueryPort ownPort_;
  QueryPort* port_ = &ownPort_;  // the exchange's socket steps
  platform::Ipv4Endpoint destination_{};
  int replyWaitMs_ = kReplyWaitMs;
  ExchangeFailure lastFailure_ = ExchangeFailure::None;
};

}  // namespace xport
