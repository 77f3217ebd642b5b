// DeviceLink: the one TCP connection to the device for an update run.
//
// Every failure is reported where it is detected, with a notice on the owner, and the
// operation that detected it tears the link down itself and clears ConnectedFlag. After a
// teardown the link holds no socket: later sends fail with their notice, later receives
// fail at the wait, and CloseDeviceLink never touches a handle the link no longer owns.
// Only the worker thread uses a DeviceLink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/link_port.h"
#include "panel/dialog_host.h"
#include "xport/query_client.h"
#include "xport/shared_buffers.h"

namespace device {

inline constexpr int kReceiveWaitMs = 5000;
inline constexpr std::size_t kAddressMaxChars = 15;
inline constexpr std::size_t kPortMaxChars = 255;

class DeviceLink {
 public:
  DeviceLink(panel::DialogHost& owner, xport::SharedBuffers& shared,
             const xport::QueryClient& xport);

  // Clears AddressText and reads at most 15 characters of IDC_ADDRESS into it.
  // 1 when the text is not empty, 0 when it is.
  int ReadAddressInput();
  // The port to connect to, reconciled with the XPort's LocalPort (may ask the operator
  // and rewrite IDC_PORT); 0 means none.
  int ReadPortInput();
  // Clears ConnectedFlag and starts the sockets layer.
  void StartSockets();
  // 1: connected, ConnectedFlag 1. 0: not connected, a notice was shown.
  int OpenDeviceLink();
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

  panel::DialogHost& owner_;
  xport::SharedBuffers& shared_;
  const xport::QueryClient& xport_;
  SocketLinkPort ownPort_;
  LinkPort* port_ = &ownPort_;  // the link socket's calls
  bool connected_ = false;
  bool layerStarted_ = false;
  bool noDelay_ = true;
  int receiveWaitMs_ = kReceiveWaitMs;
};

// atoi's reading of a text (white space, one sign, digits up to the first other
// character; none gives 0), with a defined result: saturated at the int range.
int ParsePortText(const std::string& text);

}  // namespace device
