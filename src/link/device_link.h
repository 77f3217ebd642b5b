// DeviceLink: the one TCP connection to the device for an update run.
//
// Every failure is reported where it is detected, with a notice event, and the
// operation that detected it tears the link down itself and clears ConnectedFlag. After a
// teardown the link holds no socket: later sends fail with their notice, later receives
// fail at the wait, and CloseDeviceLink never touches a handle the link no longer owns.
// Only the worker thread uses a DeviceLink.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/link_port.h"
#include "panel/events.h"
#include "panel/target.h"
#include "xport/query_client.h"

namespace device {

inline constexpr int kReceiveWaitMs = 5000;
// How long a connect may take. A device that never accepts (its port drops SYNs: a full
// backlog, a firewall) would otherwise hold the run for the system's own time-out, about
// two minutes, deaf to a stop request; a device that answers at all answers within a
// moment, so the bound sits beside the receive wait.
inline constexpr int kConnectWaitMs = 5000;

// Why the link failed, for the run's outcome.
enum class LinkFailure {
  None,
  AddressMissing,  // the target named no address
  PortMissing,     // neither a port given nor a LocalPort
  SocketLayer,     // the sockets layer could not be started
  Socket,          // the TCP socket could not be created
  Connect,         // the connect was refused or failed (code: the socket error)
  ConnectTimedOut, // no answer to the connect within its bound
  TimedOut,        // a receive waited in vain
  WaitFailed,      // the wait for data failed
  Send,            // a send failed (code: the socket error)
  Receive,         // a receive failed (code: the socket error)
};

class DeviceLink {
 public:
  DeviceLink(panel::RunObserver& events, const xport::QueryClient& xport);

  // 1 when the target names an address, 0 when it does not.
  static int ReadAddressInput(const device::Target& target);
  // The port to connect to, reconciled with the XPort's LocalPort: the target's port, or
  // LocalPort when it gives none or the operator prefers it when asked (PortReplaced tells
  // the front end); 0 means none.
  int ReadPortInput(const device::Target& target);
  // Clears ConnectedFlag and starts the sockets layer. False when it cannot be started
  // (its notice shown).
  bool StartSockets();
  // 1: connected, ConnectedFlag 1. 0: not connected, a notice was shown.
  int OpenDeviceLink(const device::Target& target);
  // 1 when data can be read within ms; 0 after a notice, with the socket closed and
  // ConnectedFlag 0.
  int WaitReadable(int ms);
  // Always 0; a failed send shows its notice and tears the link down.
  int SendToDevice(const std::uint8_t* bytes, int length);
  // Clears buffer, waits up to the receive wait, receives once. The count (1 or more); 0
  // when the wait failed or the device closed the connection; -1 after a failed receive
  // (notice shown, link torn down).
  int ReceiveFromDevice(std::uint8_t* buffer, int size);
  // Shuts down and closes the socket if the link holds one, cleans up the sockets layer,
  // clears ConnectedFlag. Silent; safe on every path and more than once.
  void CloseDeviceLink();

  bool ConnectedFlag() const { return connected_; }
  // The link's first failure since OpenDeviceLink began, and the socket error that came
  // with it (0 when none).
  LinkFailure Failure() const { return failure_; }
  int FailureCode() const { return failureCode_; }
  // The port the last OpenDeviceLink connected to or tried (0 before one got that far).
  int PortUsed() const { return portUsed_; }
  // The local address the link's socket binds before it connects (0: any).
  void UseLocalAddress(std::uint32_t address) { localAddress_ = address; }
  // Set from any thread: a connect still waiting gives up.
  void UseStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }
  void SetConnectWaitMs(int ms) { connectWaitMs_ = ms; }
  // Tests shorten the receive wait; production keeps kReceiveWaitMs.
  void SetReceiveWaitMs(int ms) { receiveWaitMs_ = ms; }
  int ReceiveWaitMs() const { return receiveWaitMs_; }
  // The link socket is created with TCP_NODELAY; only a measurement of the difference
  // turns it off. Takes effect at the next OpenDeviceLink.
  void UseNoDelay(bool on) { noDelay_ = on; }
  // The socket calls go through port from now on (null: the link's own TCP socket, the
  // default). The port must outlive the link's use of it.
  void UseLinkPort(LinkPort* port) { port_ = port != nullptr ? port : &ownPort_; }

 private:
  // Ends the link's use of the sockets layer if it holds one; later calls do nothing.
  void CleanupLayer();
  void Notice(panel::Message message, panel::NoticeStyle style = panel::NoticeStyle::Plain,
              panel::Caption caption = panel::Caption::Error);
  void Failed(LinkFailure why, int code = 0);

  panel::RunObserver& events_;
  const xport::QueryClient& xport_;
  SocketLinkPort ownPort_;
  LinkPort* port_ = &ownPort_;  // the link socket's calls
  bool connected_ = false;
  bool layerStarted_ = false;
  bool noDelay_ = true;
  int receiveWaitMs_ = kReceiveWaitMs;
  int connectWaitMs_ = kConnectWaitMs;
  std::uint32_t localAddress_ = 0;
  const std::atomic<bool>* stop_ = nullptr;
  LinkFailure failure_ = LinkFailure::None;
  int failureCode_ = 0;
  int portUsed_ = 0;
};

}  // namespace device
