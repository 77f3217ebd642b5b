// bench/nagle: the bulk write (StartBulkWrite(0x304) and 1,855 data blocks with their
// echoes, real 1 ms pauses) against a loopback device that leaves the kernel's delayed
// ACKs on, once with TCP_NODELAY on the link and once without. Shows why the link sets
// it: each block's eight one-byte sends otherwise wait on the device's delayed ACK.
//
//   nagle [--blocks N]      (default 1855; the run without TCP_NODELAY takes ~80 s)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "bench/bench_support.h"
#include "link/boot_protocol.h"
#include "link/device_link.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "sim/simulator.h"
#include "ui/dialog/dialog_host.h"
#include "xport/query_client.h"

namespace {

bool ReadExactly(platform::Socket& s, std::uint8_t* buf, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    const long r = platform::Recv(s, buf + got, n - got);
    if (r <= 0) return false;
    got += static_cast<std::size_t>(r);
  }
  return true;
}

// A device that echoes every block at once but never asks for quick ACKs.
void Device(platform::Socket listener, int blocks) {
  platform::Socket s = platform::Accept(listener, nullptr);
  platform::SetNoDelay(s);
  std::uint8_t cmd[5], block[8], echo[18] = {};
  if (!ReadExactly(s, cmd, sizeof cmd)) return;
  for (int k = 0; k < blocks; ++k) {
    if (!ReadExactly(s, block, sizeof block)) return;
    for (int i = 0; i < 4; ++i) {
      echo[4 * i + 2] = block[2 * i];
      echo[4 * i + 3] = block[2 * i + 1];
    }
    echo[16] = 'E';
    platform::Send(s, echo, sizeof echo);
  }
  std::uint8_t rest;
  platform::Recv(s, &rest, 1);  // until the client closes
}

double BulkWrite(const image::ImageSet& images, bool noDelay, int blocks) {
  platform::Socket listener = platform::OpenTcpSocket();
  platform::Bind(listener, platform::Ipv4Endpoint{0x7F000001, 0});
  platform::Listen(listener, 1);
  platform::Ipv4Endpoint local;
  platform::LocalEndpoint(listener, &local);
  std::thread device(Device, std::move(listener), blocks);

  bench::SilentHost host(false);  // the port question: keep the typed port
  xport::QueryClient xport(host);
  device::DeviceLink link(host, xport);
  device::BootProtocol protocol(link, images, platform::RealSleeper());
  link.UseNoDelay(noDelay);
  double seconds = -1;
  if (link.OpenDeviceLink({0x7F000001, local.port})) {
    const auto start = std::chrono::steady_clock::now();
    protocol.StartBulkWrite(0x304);
    const auto& image = images.FirmwareImage();
    for (int k = 0; k < blocks; ++k) {
      device::DataBlock block;
      const std::size_t p = 1544 + 8 * static_cast<std::size_t>(k);
      for (std::size_t i = 0; i < 8; ++i) block[i] = image[p + i];
      protocol.SendBlockBytes(block);
      device::EchoReply reply;
      if (!protocol.ReadBlockEcho(reply)) break;
    }
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  link.CloseDeviceLink();
  device.join();
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  int blocks = 1855;
  if (argc == 3 && std::string(argv[1]) == "--blocks") blocks = std::max(1, std::atoi(argv[2]));
  const std::string path = (std::filesystem::temp_directory_path() / "nagle-bench.HEX").string();
  std::ofstream(path) << sim::SampleHex(1);
  bench::SilentHost host(false);  // the port question: keep the typed port
  image::ImageSet images;
  if (!images.LoadDataFile(host, path) || !images.ParseDataFile(host)) return 1;
  std::filesystem::remove(path);
  platform::LowerTimerSlack();
  const double floor = blocks * 3 / 1000.0;
  for (bool noDelay : {true, false}) {
    const double s = BulkWrite(images, noDelay, blocks);
    std::printf("bulk write, %d blocks, TCP_NODELAY %-3s: %8.3f s (%.2f x the %.3f s floor)\n",
                blocks, noDelay ? "on" : "off", s, s / floor, floor);
    std::fflush(stdout);
  }
  return 0;
}
