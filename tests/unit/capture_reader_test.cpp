// Reading captures back for a replay: the library's own, pcap and pcapng files of usbmon and
// USBPcap packets, the receiver's data interfaces told by its descriptors or its reports, and
// why a file cannot be played.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "platform/capture/capture_format.h"
#include "platform/capture/capture_reader.h"
#include "support/report_builder.h"
#include "transport/discovery.h"

namespace zavn::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace cap = platform::capture;

constexpr std::uint64_t kT0 = 1'700'000'000'000'000;  // µs since 1970
constexpr std::uint64_t kMillion = 1'000'000;

// Appends value, bytes, value, bytes, ...: each value in that many bytes, big- or little-endian.
void Put(Bytes&, bool) {}
template <typename Value, typename... More>
void Put(Bytes& out, bool big, Value value, int bytes, More... more) {
  for (int k = 0; k < bytes; ++k) {
    const int shift = 8 * (big ? bytes - 1 - k : k);
    out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> shift));
  }
  Put(out, big, more...);
}
void Append(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}

Bytes Motion(std::uint16_t value, std::size_t length = 32) {
  Bytes report(length);
  PutMotion(report.data(), {value, 2, 3, 4, 5, 6});
  return report;
}

// What a capture holds, whatever the link type writes it as.
enum class Kind { kReport, kSetup, kAnswer };
struct Event {
  Kind kind;
  std::uint16_t device;
  std::uint8_t endpoint;
  Bytes data;
  std::uint64_t timeUs;
  std::uint64_t id = 0;
};

Bytes Usbmon(const Event& e, bool big, std::size_t headerLength) {
  const bool setup = e.kind == Kind::kSetup;
  const Bytes data = setup ? Bytes{} : e.data;
  Bytes p;
  // id, type, transfer, endpoint, device, bus, setup and data flags
  Put(p, big, e.id, 8, setup ? 'S' : 'C', 1, e.kind == Kind::kReport ? 1 : 2, 1, e.endpoint, 1,
      e.device, 1, 1, 2, setup ? 0 : '-', 1, setup ? '<' : 0, 1);
  // time, status (-EINPROGRESS for a submission), URB and captured lengths
  Put(p, big, e.timeUs / kMillion, 8, e.timeUs % kMillion, 4, setup ? -115 : 0, 4, data.size(), 4,
      data.size(), 4);
  Append(p, setup ? e.data : Bytes(8));
  p.resize(headerLength);
  Append(p, data);
  return p;
}

Bytes UsbPcap(const Event& e) {
  const bool control = e.kind != Kind::kReport;
  Bytes p;  // header length, IRP, success, function, direction, bus, device, endpoint, transfer
  Put(p, false, control ? 28 : 27, 2, e.id, 8, 0, 4, 9, 2, e.kind == Kind::kSetup ? 0 : 1, 1, 1, 2,
      e.device, 2, e.endpoint, 1, control ? 2 : 1, 1, e.data.size(), 4);
  if (control) p.push_back(e.kind == Kind::kSetup ? 0 : 3);
  Append(p, e.data);
  return p;
}

// A pcap file of the events as USBPcap (249) or usbmon packets; the link type field carries an
// FCS flag above the link type.
Bytes Pcap(std::uint16_t linkType, bool big, bool nano, const std::vector<Event>& events) {
  Bytes f;
  Put(f, big, nano ? 0xA1B23C4D : 0xA1B2C3D4, 4, 2, 2, 4, 2, 0, 8, 65535, 4, 0x10000000u | linkType,
      4);
  for (const Event& e : events) {
    const Bytes packet = linkType == 249 ? UsbPcap(e) : Usbmon(e, big, linkType == 189 ? 48 : 64);
    const std::uint64_t fraction = e.timeUs % kMillion;
    Put(f, big, e.timeUs / kMillion, 4, nano ? fraction * 1000 : fraction, 4, packet.size(), 4,
        packet.size(), 4);
    Append(f, packet);
  }
  return f;
}

Bytes GetDescriptor(std::uint8_t type) {
  return {0x80, 6, 0, type, 0, 0, 0xFF, 0};
}
Bytes DeviceDescriptor(std::uint16_t vendor, std::uint16_t product) {
  Bytes d = {18, 1, 0, 2, 0, 0, 0, 64};
  Put(d, false, vendor, 2, product, 2);
  d.resize(18);
  return d;
}

// Receiver 2 with its descriptors, and device 3 of another maker whose reports look like the
// receiver's. Only receiver 2's endpoint 0x83 carries data; its one 64-byte report is left out.
std::vector<Event> DescribedDevices() {
  // Three HID interfaces (endpoints 0x81..0x83) and a vendor-class one (0x84).
  Bytes config = {9, 2, 9 + 4 * 16, 0, 4, 1, 0, 0x80, 50};
  for (std::uint8_t n = 0; n < 4; ++n) {
    config.insert(config.end(), {9, 4, n, 0, 1, std::uint8_t(n < 3 ? 3 : 0xFF), 0, 0, 0});
    config.insert(config.end(), {7, 5, std::uint8_t(0x81 + n), 3, 64, 0, 1});
  }
  return {
      {Kind::kSetup, 2, 0x80, GetDescriptor(1), kT0 - 90, 1},
      {Kind::kAnswer, 2, 0x80,
       DeviceDescriptor(transport::kReceiverVendorId, transport::kReceiverProductId), kT0 - 80, 1},
      {Kind::kSetup, 2, 0x80, GetDescriptor(2), kT0 - 70, 1},
      {Kind::kAnswer, 2, 0x80, config, kT0 - 60, 1},
      {Kind::kSetup, 3, 0x80, GetDescriptor(1), kT0 - 55, 7},
      {Kind::kAnswer, 3, 0x80, DeviceDescriptor(0x1234, 0x5678), kT0 - 54, 7},
      {Kind::kReport, 2, 0x81, Bytes(4, 1), kT0 - 50},
      {Kind::kReport, 2, 0x82, Bytes(14, 1), kT0 - 40},
      {Kind::kReport, 3, 0x81, Motion(9), kT0 - 30},
      {Kind::kReport, 2, 0x84, Motion(8), kT0 - 20},
      {Kind::kReport, 2, 0x83, Motion(1), kT0},
      {Kind::kReport, 2, 0x83, Motion(7, 64), kT0 + 500},
      {Kind::kReport, 2, 0x83, Motion(2), kT0 + 1000},
      {Kind::kReport, 2, 0x83, Motion(3), kT0 + 2500}};
}

// A pcapng block of `type` around `body`, padded.
Bytes Block(std::uint32_t type, Bytes body) {
  body.resize((body.size() + 3) / 4 * 4);
  Bytes block;
  Put(block, false, type, 4, body.size() + 12, 4);
  Append(block, body);
  Put(block, false, body.size() + 12, 4);
  return block;
}
// Link type 220 in nanoseconds: if_tsresol 9, then the end of options.
Bytes NanosecondInterface() {
  return Block(1, {220, 0, 0, 0, 0, 0, 0, 0, 9, 0, 1, 0, 9, 0, 0, 0, 0, 0, 0, 0});
}
// An enhanced (6) or obsolete (2) packet block of interface 0, or a simple one (3).
Bytes PacketBlock(std::uint32_t type, std::uint64_t timeNs, const Bytes& packet) {
  Bytes body;
  if (type != 3) Put(body, false, 0, 4, timeNs >> 32, 4, timeNs, 4, packet.size(), 4);
  Put(body, false, packet.size(), 4);  // the obsolete block's u16 interface and drops are 0 as well
  Append(body, packet);
  return Block(type, body);
}

TEST(CaptureReader, ReadsTheReceiversReportsOrSaysWhyAFileCannotBePlayed) {
  // The library's own capture, slot by slot, without its outputs.
  Bytes own = cap::SectionHeader("test");
  Append(own, cap::InterfaceDescription("usbmon1", "receiver"));
  Bytes reply(32);
  PutReply(reply.data(), 'R', reply.data(), 4);
  const Bytes motion[] = {Motion(1), Motion(5), Motion(6)}, zeros(32), output(33, 0x03);
  const struct {
    int slot;
    bool output;
    const Bytes& data;
    std::uint64_t timeUs;
  } packets[] = {{2, false, zeros, kT0 - 100},     {1, false, motion[1], kT0},
                 {0, false, motion[0], kT0 + 200}, {0, true, output, kT0 + 300},
                 {0, false, reply, kT0 + 1200},    {1, false, motion[2], kT0 + 2000}};
  std::uint64_t id = 0;
  for (const auto& p : packets) {
    cap::AppendPacket(own, {++id, p.timeUs, p.slot, p.output, p.data.data(),
                            static_cast<std::uint32_t>(p.data.size())});
  }
  Append(own, cap::DropStatistics(kT0 + 3000, 0));
  // (A file read whole: the replay in tests/integration/capture_test.cpp.)

  // pcapng of every packet block, in the interface's unit, cut inside the last one.
  Bytes blocks = cap::SectionHeader("test");
  Append(blocks, NanosecondInterface());
  const std::uint32_t types[] = {6, 2, 3, 6};  // the simple block takes the time before it
  for (std::uint16_t k = 0; k < 4; ++k) {
    const Event report{Kind::kReport, 1, 0x81, Motion(k), 0};
    const Bytes block = PacketBlock(types[k], (kT0 + 1000 * k) * 1000, Usbmon(report, false, 64));
    blocks.insert(blocks.end(), block.begin(), block.begin() + (k < 3 ? block.size() : 40));
  }

  // pcap: only the receiver's data interface, told by its descriptors.
  const std::vector<Event> devices = DescribedDevices();
  const std::vector<Event> foreign(devices.begin() + 4, devices.begin() + 9);  // no receiver's
  using Stream = std::pair<std::vector<Bytes>, std::vector<std::uint64_t>>;
  const Stream described = {{Motion(1), Motion(2), Motion(3)}, {0, 1000, 2500}};

  const Bytes shb = cap::SectionHeader("test"), packet = PacketBlock(6, 0, Bytes(64));
  Bytes cutPacket = shb, badLength = shb;
  Append(cutPacket, NanosecondInterface());
  cutPacket.insert(cutPacket.end(), packet.begin(), packet.begin() + 50);
  Append(badLength, Block(1, Bytes(8)));
  badLength[shb.size() + 4] = 13;
  const std::string damaged =
      "damaged at byte " + std::to_string(shb.size()) + " (block length 13)";
  const Bytes ethernet = Pcap(1, false, false, foreign);
  const struct {
    const char* label;
    std::string why;  // the file cannot be played
    Bytes file;
    std::vector<Stream> streams;
  } cases[] = {
      {"own", "", own, {{{motion[0], reply}, {200, 1200}}, {{motion[1], motion[2]}, {0, 2000}}}},
      {"pcapng", "", blocks, {{{Motion(0), Motion(1), Motion(2)}, {0, 1000, 1000}}}},
      {"usbmon 189", "", Pcap(189, false, false, devices), {described}},
      {"usbmon 220, ns", "", Pcap(220, false, true, devices), {described}},
      {"usbmon 189, big-endian, ns", "", Pcap(189, true, true, devices), {described}},
      {"USBPcap", "", Pcap(249, false, false, devices), {described}},
      {"empty", "not a pcap or pcapng capture", {}, {}},
      {"garbage", "not a pcap or pcapng capture", {'G', 'I', 'F', '8', '9', 'a', 0, 0}, {}},
      {"cut header", "truncated at byte 10", Bytes(ethernet.begin(), ethernet.begin() + 10), {}},
      {"cut packet", "truncated at byte " + std::to_string(cutPacket.size()), cutPacket, {}},
      {"bad length", damaged, badLength, {}},
      {"ethernet", "holds no USB traffic (link type 1; a replay takes usbmon", ethernet, {}},
      {"foreign", "holds no input reports of a receiver's", Pcap(220, false, false, foreign), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    cap::Recording recording;
    std::string error;
    EXPECT_EQ(cap::ParseRecording(c.file.data(), c.file.size(), c.label, recording, error),
              c.why.empty())
        << error;
    EXPECT_EQ(error.rfind(std::string(c.label) + ": " + c.why, 0),
              c.why.empty() ? std::string::npos : 0)
        << error;
    ASSERT_EQ(recording.streams.size(), c.streams.size());
    for (std::size_t k = 0; k < c.streams.size(); ++k) {
      const auto& [reports, timesUs] = c.streams[k];
      Bytes all;
      for (const Bytes& report : reports) Append(all, report);
      EXPECT_EQ(recording.streams[k].reportLength, reports[0].size());
      EXPECT_EQ(recording.streams[k].reports, all);
      EXPECT_EQ(recording.streams[k].timesUs, timesUs);
    }
  }
  cap::Recording recording;
  std::string error;
  EXPECT_FALSE(cap::ReadRecording("/nonexistent/capture.pcapng", recording, error));
  EXPECT_EQ(error.rfind("/nonexistent/capture.pcapng: cannot be opened (", 0), 0u) << error;
}

}  // namespace
}  // namespace zavn::testing
