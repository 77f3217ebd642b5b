// The XPort's datagrams through the query client, as an update uses it: info, setup
// record, the override and the restore, then info and setup record once more. Each
// exchange gets the datagrams the fuzzer makes, any size (past the 1,023 bytes a reply may
// hold too), from the XPort's address or another's.
//
// The oracle takes, for each exchange, the first datagram from the XPort's address and
// judges it by the reply rules: at least 30 bytes for the info, 124 for the record,
// 00 00 00 FB for a set; an over-long one is no reply. It checks the results, the records
// kept (replaced whole by an accepted reply, untouched otherwise), LocalPort, the override
// test, the override and restore records byte by byte, the MAC text and the requests the
// client sent. ASan and UBSan watch the buffers.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "xport/query_client.h"

namespace {

using fuzzing::Check;
using Bytes = std::vector<std::uint8_t>;

const std::uint32_t kXPort = platform::InetAddr("127.0.0.1");
const std::uint32_t kOther = platform::InetAddr("127.0.0.99");

struct Datagram {
  Bytes bytes;
  std::uint32_t from;
};

class ScriptedXPort final : public xport::QueryPort {
 public:
  std::vector<std::vector<Datagram>> answers;  // per exchange
  std::vector<Bytes> requests;

  bool Open() override { return true; }
  bool Bind(const platform::Ipv4Endpoint& local) override { return local.port == 10001; }
  bool SendTo(const std::uint8_t* data, std::size_t size, const platform::Ipv4Endpoint& to) override {
    Check(to.address == kXPort && to.port == 30718, "a request to the wrong place");
    requests.emplace_back(data, data + size);
    next_ = 0;
    return true;
  }
  bool WaitReadable(int) override { return next_ < Current().size(); }
  long ReceiveFrom(std::uint8_t* buffer, std::size_t size, platform::Ipv4Endpoint* from,
                   bool* truncated) override {
    const Datagram& d = Current()[next_++];
    const std::size_t n = std::min(size, d.bytes.size());
    if (n > 0) std::memcpy(buffer, d.bytes.data(), n);
    from->address = d.from;
    from->port = 30718;
    *truncated = d.bytes.size() > size;
    return static_cast<long>(n);
  }
  void Close() override {}

 private:
  const std::vector<Datagram>& Current() const { return answers.at(requests.size() - 1); }
  std::size_t next_ = 0;
};

// The reply an exchange takes: the first datagram from the XPort, unless it is over-long.
const Bytes* Reply(const std::vector<Datagram>& datagrams) {
  for (const Datagram& d : datagrams) {
    if (d.from == kXPort) return d.bytes.size() <= 1023 ? &d.bytes : nullptr;
  }
  return nullptr;
}

std::string Mac(const std::array<std::uint8_t, 30>& info) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (int i = 24; i < 30; ++i) {
    if (i > 24) out += '-';
    out += hex[info[i] >> 4];
    out += hex[info[i] & 15];
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::Reader in(data, size);
  ScriptedXPort port;
  for (int exchange = 0; exchange < 6; ++exchange) {
    std::vector<Datagram> datagrams(in.Byte() % 4);
    for (Datagram& d : datagrams) {
      const std::uint8_t flags = in.Byte();
      d.from = flags & 1 ? kOther : kXPort;
      // Mostly the sizes that matter, now and then one past what a reply may hold.
      const std::size_t length = flags & 2 ? 1000 + in.Byte() % 40 : in.Byte() % 140;
      for (std::size_t i = 0; i < length; ++i) d.bytes.push_back(in.Byte());
    }
    port.answers.push_back(std::move(datagrams));
  }

  fuzzing::LeanObserver host;
  xport::QueryClient client(host);
  client.UseAddress(kXPort);
  client.UseQueryPort(&port);

  std::array<std::uint8_t, 30> info{};
  std::array<std::uint8_t, 124> record{};
  const auto setRecord = [&](bool override) {
    Bytes r(record.begin(), record.end());
    r[0] = r[1] = r[2] = 0x00;
    r[3] = 0xFA;
    if (override) r[32] = 0xC0, r[33] = 0x00;
    return r;
  };
  for (int exchange = 0; exchange < 6; ++exchange) {
    const Bytes* reply = Reply(port.answers[exchange]);
    const int kind = exchange < 2 ? exchange : exchange < 4 ? 2 : exchange - 4;
    int result = 0, expected = 0;
    Bytes request;
    if (kind == 0) {
      result = client.QueryXPortInfo();
      expected = reply && reply->size() >= 30;
      if (expected) std::copy_n(reply->begin(), 30, info.begin());
      request = {0, 0, 0, 0xF6};
    } else if (kind == 1) {
      result = client.QuerySetupRecord();
      expected = reply && reply->size() >= 124;
      if (expected) std::copy_n(reply->begin(), 124, record.begin());
      request = {0, 0, 0, 0xF8};
    } else {
      const bool override = exchange == 2;
      override ? client.BuildOverrideRecord() : client.BuildRestoreRecord();
      request = setRecord(override);
      Check(Bytes(client.SetRecord().begin(), client.SetRecord().end()) == request,
            "set record built wrong");
      result = client.SendSetupRecord(client.SetRecord().data(), 124);
      expected = reply && reply->size() >= 4 && (*reply)[0] == 0 && (*reply)[1] == 0 &&
                 (*reply)[2] == 0 && (*reply)[3] == 0xFB;
    }
    const std::string at = "exchange " + std::to_string(exchange) + ": ";
    Check(result == expected, at + "result " + std::to_string(result));
    Check(port.requests.back() == request, at + "request");
    Check(client.XPortInfo() == info, at + "XPortInfo");
    Check(client.SetupRecord() == record, at + "SetupRecord");
    Check(client.LocalPort() == (record[24] | record[25] << 8), at + "LocalPort");
    Check(client.NeedsOverride() == ((record[32] & 0x0F) == 0x01 || record[33] == 0x80),
          at + "NeedsOverride");
    Check(client.FormatMacAddress() == Mac(info), at + "MAC " + client.FormatMacAddress());
  }
  Check(host.notices.empty(), "a notice without a socket failure");
  return 0;
}
