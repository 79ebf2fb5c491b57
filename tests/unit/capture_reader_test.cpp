// Reading captures back for a replay: the library's own, pcap and pcapng files of usbmon and
// USBPcap packets, the receiver's data interfaces told by its descriptors or its reports, and
// why a file cannot be played.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
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

cap::Recording Parsed(const Bytes& file) {
  cap::Recording recording;
  std::string error;
  EXPECT_TRUE(cap::ParseRecording(file.data(), file.size(), "f", recording, error)) << error;
  return recording;
}

void ExpectStream(const cap::ReplayStream& stream, const std::vector<Bytes>& reports,
                  const std::vector<std::uint64_t>& timesUs) {
  Bytes all;
  for (const Bytes& report : reports) Append(all, report);
  EXPECT_EQ(stream.reportLength, reports[0].size());
  EXPECT_EQ(stream.reports, all);
  EXPECT_EQ(stream.timesUs, timesUs);
}

TEST(CaptureReader, ReadsTheLibrarysOwnCaptureSlotBySlotWithoutItsOutputs) {
  Bytes file = cap::SectionHeader("test");
  Append(file, cap::InterfaceDescription("usbmon1", "receiver"));
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
    cap::AppendPacket(file, {++id, p.timeUs, p.slot, p.output, p.data.data(),
                             static_cast<std::uint32_t>(p.data.size())});
  }
  Append(file, cap::DropStatistics(kT0 + 3000, 0));
  // (A file read whole: the replay in tests/integration/capture_test.cpp.)
  const cap::Recording recording = Parsed(file);
  ASSERT_EQ(recording.streams.size(), 2u);
  ExpectStream(recording.streams[0], {motion[0], reply}, {200, 1200});
  ExpectStream(recording.streams[1], {motion[1], motion[2]}, {0, 2000});
}

TEST(CaptureReader, TakesOnlyTheReceiversDataInterfaceByItsDescriptors) {
  const struct {
    const char* label;
    std::uint16_t linkType;
    bool big, nano;
  } cases[] = {{"usbmon 189", 189, false, false},
               {"usbmon 220, ns", 220, false, true},
               {"usbmon 189, big-endian, ns", 189, true, true},
               {"USBPcap", 249, false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Bytes file = Pcap(c.linkType, c.big, c.nano, DescribedDevices());
    const cap::Recording recording = Parsed(file);
    ASSERT_EQ(recording.streams.size(), 1u);
    ExpectStream(recording.streams[0], {Motion(1), Motion(2), Motion(3)}, {0, 1000, 2500});
  }
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

TEST(CaptureReader, ReadsEveryPacketBlockInTheInterfacesUnitAndPlaysACutFileUpToItsCut) {
  Bytes file = cap::SectionHeader("test");
  Append(file, NanosecondInterface());
  const std::uint32_t types[] = {6, 2, 3, 6};  // the simple block takes the time before it
  for (std::uint16_t k = 0; k < 4; ++k) {
    const Event report{Kind::kReport, 1, 0x81, Motion(k), 0};
    const Bytes block = PacketBlock(types[k], (kT0 + 1000 * k) * 1000, Usbmon(report, false, 64));
    file.insert(file.end(), block.begin(), block.begin() + (k < 3 ? block.size() : 40));
  }
  const cap::Recording recording = Parsed(file);
  ASSERT_EQ(recording.streams.size(), 1u);
  ExpectStream(recording.streams[0], {Motion(0), Motion(1), Motion(2)}, {0, 1000, 1000});
}

TEST(CaptureReader, SaysWhichFileCannotBePlayedAndWhy) {
  const std::vector<Event> devices = DescribedDevices();
  const std::vector<Event> foreign(devices.begin() + 4, devices.begin() + 9);  // no receiver's
  const Bytes shb = cap::SectionHeader("test"), packet = PacketBlock(6, 0, Bytes(64));
  Bytes cutPacket = shb, badLength = shb;
  Append(cutPacket, NanosecondInterface());
  cutPacket.insert(cutPacket.end(), packet.begin(), packet.begin() + 50);
  Append(badLength, Block(1, Bytes(8)));
  badLength[shb.size() + 4] = 13;
  const Bytes ethernet = Pcap(1, false, false, foreign);
  const struct {
    const char* label;
    Bytes file;
    std::string why;
  } cases[] = {
      {"empty", {}, "not a pcap or pcapng capture"},
      {"garbage", {'G', 'I', 'F', '8', '9', 'a', 0, 0}, "not a pcap or pcapng capture"},
      {"cut header", Bytes(ethernet.begin(), ethernet.begin() + 10), "truncated at byte 10"},
      {"cut packet", cutPacket, "truncated at byte " + std::to_string(cutPacket.size())},
      {"bad length", badLength,
       "damaged at byte " + std::to_string(shb.size()) + " (block length 13)"},
      {"ethernet", ethernet, "holds no USB traffic (link type 1; a replay takes usbmon"},
      {"foreign", Pcap(220, false, false, foreign),
       "holds no input reports of a receiver's data interface"},
  };
  for (const auto& c : cases) {
    cap::Recording recording;
    std::string error;
    EXPECT_FALSE(cap::ParseRecording(c.file.data(), c.file.size(), c.label, recording, error));
    EXPECT_EQ(error.rfind(std::string(c.label) + ": " + c.why, 0), 0u) << error;
    EXPECT_TRUE(recording.streams.empty());
  }
  cap::Recording recording;
  std::string error;
  EXPECT_FALSE(cap::ReadRecording("/nonexistent/capture.pcapng", recording, error));
  EXPECT_EQ(error.rfind("/nonexistent/capture.pcapng: cannot be opened (", 0), 0u) << error;
}

}  // namespace
}  // namespace zavn::testing
