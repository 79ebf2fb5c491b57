#include "platform/capture/capture_reader.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>

#include "platform/capture/capture_format.h"

namespace zavn::platform::capture {
namespace {

constexpr std::size_t kMaxFileBytes = std::size_t{1} << 30;
constexpr std::size_t kReadChunk = std::size_t{1} << 16;

// pcap: the file header (the link type in the low 16 bits of its last word) and each record's
// header (seconds, fraction, captured length, original length).
constexpr std::uint32_t kPcapMicroMagic = 0xA1B2C3D4;
constexpr std::uint32_t kPcapNanoMagic = 0xA1B23C4D;
constexpr std::size_t kPcapHeaderLength = 24;
constexpr std::size_t kPcapLinkTypeAt = 20;
constexpr std::size_t kPcapRecordLength = 16;
constexpr std::size_t kPcapFractionAt = 4;
constexpr std::size_t kPcapCapturedAt = 8;
// No writer captures more of one packet; a longer record is a damaged file.
constexpr std::uint32_t kMaxRecordLength = std::uint32_t{1} << 24;

// pcapng blocks besides those the library writes.
constexpr std::uint32_t kObsoletePacketBlock = 2;  // its interface a u16 and then drops
constexpr std::uint32_t kSimplePacketBlock = 3;    // interface 0, no time
constexpr std::size_t kBlockHeaderLength = 8;      // type, length
constexpr std::uint32_t kMinBlockLength = 12;      // and the length again
constexpr std::uint32_t kMinSectionHeaderLength = 28;
constexpr std::size_t kByteOrderAt = 8;
constexpr std::size_t kInterfaceFields = 8;  // link type, reserved, snapshot length
constexpr std::size_t kSnapLengthAt = 4;
constexpr std::size_t kPacketFields = 20;  // interface, time high and low, captured, original
constexpr std::size_t kPacketTimeAt = 4;
constexpr std::size_t kPacketCapturedAt = 12;
constexpr std::size_t kSimplePacketFields = 4;
constexpr std::uint8_t kBinaryResolution = 0x80;

constexpr std::uint16_t kLinkTypeUsbLinux = 189;  // usbmon with the 48-byte header
constexpr std::uint16_t kLinkTypeUsbPcap = 249;

// The usbmon header: where its fields stand (the same for both lengths).
namespace usbmon {
constexpr std::size_t kLegacyHeaderLength = 48;
constexpr std::size_t kType = 8, kTransfer = 9, kEndpoint = 10, kDevice = 11, kBus = 12;
constexpr std::size_t kFlagSetup = 14, kStatus = 28, kUrbLength = 32, kDataLength = 36;
constexpr std::size_t kSetup = 40;
constexpr std::uint8_t kSetupPresent = 0;
}  // namespace usbmon

// The USBPcap header, little-endian whatever the file's order.
namespace usbpcap {
constexpr std::size_t kIrpId = 2, kStatus = 10, kInfo = 16, kBus = 17, kDevice = 19;
constexpr std::size_t kEndpoint = 21, kTransfer = 22, kDataLength = 23, kStage = 27;
constexpr std::size_t kMinHeaderLength = 27;
constexpr std::size_t kControlHeaderLength = 28;  // with the stage
constexpr std::uint8_t kFromDevice = 1;           // info bit 0: PDO to FDO
constexpr std::uint8_t kSetupStage = 0;
}  // namespace usbpcap

// USB: transfers, the GET_DESCRIPTOR request and the descriptors the reader walks (each opens
// with its length and type).
constexpr std::uint8_t kControlTransfer = 2;
constexpr std::uint8_t kEndpointIn = 0x80;
constexpr std::uint8_t kEndpointNumber = 0x0F;
constexpr std::uint8_t kEndpointTransfer = 3;  // bmAttributes' transfer type
constexpr std::uint8_t kEndpointInterrupt = 3;
constexpr std::size_t kSetupLength = 8;
constexpr std::size_t kRequestTypeAt = 0, kRequestAt = 1, kDescriptorTypeAt = 3;  // wValue high
constexpr std::uint8_t kDeviceToHost = 0x80;
constexpr std::uint8_t kGetDescriptor = 6;
constexpr std::uint8_t kDeviceDescriptor = 1, kConfigurationDescriptor = 2;
constexpr std::uint8_t kInterfaceDescriptor = 4, kEndpointDescriptor = 5;
constexpr std::size_t kLengthAt = 0, kTypeAt = 1, kDescriptorHeaderLength = 2;
constexpr std::size_t kVendorAt = 8, kProductAt = 10, kDeviceIdentityLength = 12;
constexpr std::size_t kInterfaceLength = 9, kInterfaceClassAt = 5;
constexpr std::size_t kEndpointLength = 7, kEndpointAddressAt = 2, kEndpointAttributesAt = 3;
constexpr std::uint8_t kHidClass = 3;

// The receiver as discovery (transport/discovery.h) and the decoder (input/input_report.h)
// know it; the platform layer does not include those layers.
constexpr std::uint16_t kReceiverVendorId = 0xFFFF;
constexpr std::uint16_t kReceiverProductId = 0x0008;
constexpr std::uint32_t kUnusedInputLengths[] = {4, 14};
constexpr std::uint32_t kDataInputLengths[] = {32, 64};
constexpr std::uint8_t kReportId = 0x02;
constexpr std::size_t kLetterPosition = 3;
constexpr std::uint8_t kRecordLetters[] = {'A', 'R', 'V', 'D'};
constexpr std::uint8_t kBootRecord[] = {'B', 0x95, ';'};  // report bytes 1..3
// Of an undescribed device's reports, this share must look like the receiver's.
constexpr std::uint64_t kLookingPercent = 90;
// Report lengths counted per endpoint; a receiver's are one or two.
constexpr std::size_t kCountedLengths = 8;
// Descriptor requests awaiting their answer.
constexpr std::size_t kPendingRequests = 32;

constexpr std::uint64_t kUsPerSecond = 1000000;
constexpr std::uint64_t kNsPerUs = 1000;
constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

std::uint16_t Get16(const std::uint8_t* at, bool big) {
  return static_cast<std::uint16_t>(big ? at[0] << 8 | at[1] : at[1] << 8 | at[0]);
}
std::uint32_t Get32(const std::uint8_t* at, bool big) {
  const std::uint32_t first = Get16(at, big), second = Get16(at + 2, big);
  return big ? first << 16 | second : second << 16 | first;
}
std::uint64_t Get64(const std::uint8_t* at, bool big) {
  const std::uint64_t first = Get32(at, big), second = Get32(at + 4, big);
  return big ? first << 32 | second : second << 32 | first;
}

std::uint64_t SaturatingMultiply(std::uint64_t a, std::uint64_t b) {
  return b != 0 && a > kNever / b ? kNever : a * b;
}
std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
  return a > kNever - b ? kNever : a + b;
}
std::uint64_t PowerOf10(unsigned exponent) {
  std::uint64_t value = 1;
  for (unsigned k = 0; k < exponent; ++k) value *= 10;
  return value;
}

// An interface's time unit: 10^-exponent or 2^-exponent seconds.
struct Resolution {
  bool binary = false;
  std::uint8_t exponent = kMicroseconds;
};

std::uint64_t ToMicroseconds(std::uint64_t units, Resolution resolution) {
  constexpr unsigned kMaxPowerOf10 = 19;  // the largest in 64 bits
  constexpr unsigned kFractionBits = 44;  // a fraction of this many bits times 10^6 fits
  const unsigned exponent = resolution.exponent;
  if (!resolution.binary) {
    if (exponent <= kMicroseconds)
      return SaturatingMultiply(units, PowerOf10(kMicroseconds - exponent));
    return exponent - kMicroseconds > kMaxPowerOf10 ? 0
                                                    : units / PowerOf10(exponent - kMicroseconds);
  }
  if (exponent >= 64) return 0;  // under a microsecond in all
  const std::uint64_t seconds = units >> exponent;
  std::uint64_t fraction = units & ((std::uint64_t{1} << exponent) - 1);
  unsigned bits = exponent;
  if (bits > kFractionBits) {
    fraction >>= bits - kFractionBits;
    bits = kFractionBits;
  }
  return SaturatingAdd(SaturatingMultiply(seconds, kUsPerSecond), fraction * kUsPerSecond >> bits);
}

// One packet of the capture, whatever the container.
struct Frame {
  std::uint16_t linkType = 0;
  bool big = false;  // the byte order of the file or section
  const std::uint8_t* bytes = nullptr;
  std::uint32_t length = 0;
  std::uint64_t timeUs = 0;
};

// What a walk through the container saw besides its packets.
struct Summary {
  bool sawPacket = false;
  bool sawUsb = false;
  bool sawLinkType = false;
  std::uint16_t firstLinkType = 0;
  void Note(std::uint16_t linkType) {
    if (!sawLinkType) firstLinkType = linkType;
    sawLinkType = true;
    sawUsb = sawUsb || linkType == kLinkTypeUsbLinuxMmapped || linkType == kLinkTypeUsbLinux ||
             linkType == kLinkTypeUsbPcap;
  }
};

bool Fail(std::string& why, std::string text) {
  why = std::move(text);
  return false;
}
bool Truncated(std::string& why, std::size_t at) {
  return Fail(why, "truncated at byte " + std::to_string(at));
}
bool Damaged(std::string& why, std::size_t at, const std::string& what) {
  return Fail(why, "damaged at byte " + std::to_string(at) + " (" + what + ")");
}

// Calls visit(frame) for each whole packet. A file that ends inside a record after a whole
// packet plays up to there; one that ends before is truncated.
template <typename Visit>
bool WalkPcap(const std::uint8_t* data, std::size_t size, bool big, bool nano, Summary& summary,
              std::string& why, Visit&& visit) {
  if (size < kPcapHeaderLength) return Truncated(why, size);
  const auto linkType = static_cast<std::uint16_t>(Get32(data + kPcapLinkTypeAt, big));
  summary.Note(linkType);
  std::size_t at = kPcapHeaderLength;
  while (size - at >= kPcapRecordLength) {
    const std::uint8_t* record = data + at;
    const std::uint32_t captured = Get32(record + kPcapCapturedAt, big);
    if (captured > kMaxRecordLength) {
      return Damaged(why, at, "record length " + std::to_string(captured));
    }
    if (captured > size - at - kPcapRecordLength) break;
    const std::uint32_t fraction = Get32(record + kPcapFractionAt, big);
    const std::uint64_t timeUs =
        Get32(record, big) * kUsPerSecond + (nano ? fraction / kNsPerUs : fraction);
    visit(Frame{linkType, big, record + kPcapRecordLength, captured, timeUs});
    summary.sawPacket = true;
    at += kPcapRecordLength + captured;
  }
  if (at < size && !summary.sawPacket) return Truncated(why, size);
  return true;
}

struct Interface {
  std::uint16_t linkType = 0;
  std::uint32_t snapLength = 0;
  Resolution resolution;
};

Interface ReadInterface(const std::uint8_t* body, std::size_t length, bool big) {
  Interface described{Get16(body, big), Get32(body + kSnapLengthAt, big), {}};
  for (std::size_t at = kInterfaceFields; length - at >= 4;) {
    const std::uint16_t code = Get16(body + at, big);
    const std::size_t value = Get16(body + at + 2, big);
    const std::size_t padded = (value + 3) / 4 * 4;
    if (code == kEndOfOptions || padded > length - at - 4) break;
    if (code == kIfTimestampResolution && value >= 1) {
      const std::uint8_t unit = body[at + 4];
      described.resolution = {(unit & kBinaryResolution) != 0,
                              static_cast<std::uint8_t>(unit & ~kBinaryResolution)};
    }
    at += 4 + padded;
  }
  return described;
}

template <typename Visit>
bool WalkPcapng(const std::uint8_t* data, std::size_t size, Summary& summary, std::string& why,
                Visit&& visit) {
  std::vector<Interface> interfaces;  // of the current section
  bool big = false;
  std::uint64_t lastTimeUs = 0;
  std::size_t at = 0;
  while (size - at >= kBlockHeaderLength) {
    const std::uint8_t* block = data + at;
    const std::size_t left = size - at;
    if (Get32(block, false) == kSectionHeaderBlock) {  // the same in either order
      if (left < kByteOrderAt + 4) break;
      const std::uint32_t magic = Get32(block + kByteOrderAt, false);
      if (magic != kByteOrderMagic && Get32(block + kByteOrderAt, true) != kByteOrderMagic) {
        return at == 0 ? Fail(why, "not a pcap or pcapng capture")
                       : Damaged(why, at, "a section of no known byte order");
      }
      big = magic != kByteOrderMagic;
      interfaces.clear();
    }
    const std::uint32_t type = Get32(block, big), total = Get32(block + 4, big);
    if (total < kMinBlockLength || total % 4 != 0 ||
        (type == kSectionHeaderBlock && total < kMinSectionHeaderLength)) {
      return Damaged(why, at, "block length " + std::to_string(total));
    }
    if (total > left) break;
    if (Get32(block + total - 4, big) != total) {
      return Damaged(why, at,
                     "block length " + std::to_string(total) + ", at its end " +
                         std::to_string(Get32(block + total - 4, big)));
    }
    const std::uint8_t* body = block + kBlockHeaderLength;
    const std::size_t length = total - kMinBlockLength;
    const bool packet = type == kEnhancedPacketBlock || type == kObsoletePacketBlock;
    if ((type == kInterfaceBlock && length < kInterfaceFields) ||
        (packet && length < kPacketFields) ||
        (type == kSimplePacketBlock && length < kSimplePacketFields)) {
      return Damaged(why, at, "block of type " + std::to_string(type) + " too short");
    }
    if (type == kInterfaceBlock) {
      interfaces.push_back(ReadInterface(body, length, big));
      summary.Note(interfaces.back().linkType);
    } else if (packet || type == kSimplePacketBlock) {
      const std::uint32_t id = !packet                        ? 0
                               : type == kEnhancedPacketBlock ? Get32(body, big)
                                                              : Get16(body, big);
      if (id >= interfaces.size()) {
        return Damaged(why, at,
                       "a packet of interface " + std::to_string(id) +
                           ", which its section does not describe");
      }
      const Interface& described = interfaces[id];
      std::uint32_t captured = 0;
      const std::uint8_t* bytes = body + kPacketFields;
      if (packet) {
        captured = Get32(body + kPacketCapturedAt, big);
        if (captured > length - kPacketFields) {
          return Damaged(why, at,
                         "captured length " + std::to_string(captured) + " beyond its block");
        }
        const std::uint64_t units = std::uint64_t{Get32(body + kPacketTimeAt, big)} << 32 |
                                    Get32(body + kPacketTimeAt + 4, big);
        lastTimeUs = ToMicroseconds(units, described.resolution);
      } else {
        bytes = body + kSimplePacketFields;
        captured = static_cast<std::uint32_t>(
            std::min<std::size_t>(Get32(body, big), length - kSimplePacketFields));
        if (described.snapLength != 0) captured = std::min(captured, described.snapLength);
      }
      visit(Frame{described.linkType, big, bytes, captured, lastTimeUs});
      summary.sawPacket = true;
    }
    at += total;
  }
  if (at < size && !summary.sawPacket) return Truncated(why, size);
  return true;
}

struct DeviceKey {
  std::uint16_t bus = 0;
  std::uint16_t address = 0;
  auto operator<=>(const DeviceKey&) const = default;
};
struct EndpointKey {
  DeviceKey device;
  std::uint8_t endpoint = 0;
  auto operator<=>(const EndpointKey&) const = default;
};

// The events a decoder finds in a packet, by the link type's header.
template <typename Sink>
void DecodeUsbmon(const Frame& frame, std::size_t headerLength, Sink& sink) {
  if (frame.length < headerLength) return;
  const std::uint8_t* header = frame.bytes;
  const bool big = frame.big;
  const std::uint8_t type = header[usbmon::kType], transfer = header[usbmon::kTransfer];
  const std::uint8_t endpoint = header[usbmon::kEndpoint];
  const DeviceKey device{Get16(header + usbmon::kBus, big), header[usbmon::kDevice]};
  const bool succeeded = Get32(header + usbmon::kStatus, big) == 0;
  const std::uint32_t dataLength = Get32(header + usbmon::kDataLength, big);
  const std::uint32_t present = frame.length - static_cast<std::uint32_t>(headerLength);
  const std::uint8_t* data = header + headerLength;
  if (transfer == kInterruptTransfer) {
    if (type == kUrbComplete && (endpoint & kEndpointIn) != 0 && succeeded && dataLength > 0 &&
        dataLength == Get32(header + usbmon::kUrbLength, big) && dataLength <= present) {
      sink.Input(EndpointKey{device, endpoint}, data, dataLength, frame.timeUs);
    }
  } else if (transfer == kControlTransfer && (endpoint & kEndpointNumber) == 0) {
    const std::uint64_t id = Get64(header, big);
    if (type == kUrbSubmit && header[usbmon::kFlagSetup] == usbmon::kSetupPresent) {
      sink.Setup(device, id, header + usbmon::kSetup);
    } else if (type == kUrbComplete && succeeded) {
      sink.Answer(device, id, data, std::min(dataLength, present));
    }
  }
}

template <typename Sink>
void DecodeUsbPcap(const Frame& frame, Sink& sink) {
  if (frame.length < usbpcap::kMinHeaderLength) return;
  const std::uint8_t* header = frame.bytes;
  const std::uint16_t headerLength = Get16(header, false);
  if (headerLength < usbpcap::kMinHeaderLength || headerLength > frame.length) return;
  const bool succeeded = Get32(header + usbpcap::kStatus, false) == 0;
  const bool fromDevice = (header[usbpcap::kInfo] & usbpcap::kFromDevice) != 0;
  const DeviceKey device{Get16(header + usbpcap::kBus, false),
                         Get16(header + usbpcap::kDevice, false)};
  const std::uint8_t endpoint = header[usbpcap::kEndpoint];
  const std::uint8_t transfer = header[usbpcap::kTransfer];
  const std::uint32_t dataLength = Get32(header + usbpcap::kDataLength, false);
  const std::uint32_t present = frame.length - headerLength;
  const std::uint8_t* data = header + headerLength;
  if (transfer == kInterruptTransfer) {
    if ((endpoint & kEndpointIn) != 0 && fromDevice && succeeded && dataLength > 0 &&
        dataLength <= present) {
      sink.Input(EndpointKey{device, endpoint}, data, dataLength, frame.timeUs);
    }
  } else if (transfer == kControlTransfer && headerLength >= usbpcap::kControlHeaderLength) {
    const std::uint64_t irp = Get64(header + usbpcap::kIrpId, false);
    const bool setupStage = header[usbpcap::kStage] == usbpcap::kSetupStage;
    if (!fromDevice && setupStage && std::min(dataLength, present) >= kSetupLength) {
      sink.Setup(device, irp, data);
    } else if (fromDevice && !setupStage && succeeded) {
      sink.Answer(device, irp, data, std::min(dataLength, present));
    }
  }
}

template <typename Sink>
void Decode(const Frame& frame, Sink& sink) {
  if (frame.linkType == kLinkTypeUsbLinuxMmapped) DecodeUsbmon(frame, kUsbmonHeaderLength, sink);
  if (frame.linkType == kLinkTypeUsbLinux) DecodeUsbmon(frame, usbmon::kLegacyHeaderLength, sink);
  if (frame.linkType == kLinkTypeUsbPcap) DecodeUsbPcap(frame, sink);
}

bool LooksLikeReceiverReport(const std::uint8_t* report, std::uint32_t length) {
  if (length <= kLetterPosition) return false;
  const std::uint8_t* letters = std::end(kRecordLetters);
  return (report[0] == kReportId &&
          std::find(kRecordLetters, letters, report[kLetterPosition]) != letters) ||
         std::equal(std::begin(kBootRecord), std::end(kBootRecord), report + 1);
}

// The first pass: every input endpoint's report lengths and how receiver-like its reports
// look, and what the descriptors say of each device.
class Survey {
 public:
  struct Endpoint {
    struct LengthCount {
      std::uint32_t length = 0;
      std::size_t count = 0;  // no more than the file holds packets
    };
    std::array<LengthCount, kCountedLengths> lengths{};
    std::uint64_t total = 0;
    std::uint64_t looking = 0;
    const LengthCount& Usual() const {
      return *std::max_element(lengths.begin(), lengths.end(),
                               [](const auto& a, const auto& b) { return a.count < b.count; });
    }
  };
  struct Device {
    bool identified = false;  // its device descriptor seen
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    bool configured = false;           // a configuration descriptor with interfaces seen
    std::uint16_t hidInEndpoints = 0;  // bit n: IN endpoint n of a HID interface
  };

  void Input(EndpointKey key, const std::uint8_t* report, std::uint32_t length, std::uint64_t) {
    Endpoint& endpoint = endpoints_[key];
    ++endpoint.total;
    if (LooksLikeReceiverReport(report, length)) ++endpoint.looking;
    for (auto& counted : endpoint.lengths) {
      if (counted.count == 0) counted.length = length;  // the first free entry
      if (counted.length == length) {
        ++counted.count;
        break;
      }
    }
  }

  void Setup(DeviceKey device, std::uint64_t id, const std::uint8_t* setup) {
    const std::uint8_t descriptorType = setup[kDescriptorTypeAt];
    if (setup[kRequestTypeAt] != kDeviceToHost || setup[kRequestAt] != kGetDescriptor ||
        (descriptorType != kDeviceDescriptor && descriptorType != kConfigurationDescriptor)) {
      return;
    }
    Request* slot = Find(device, id);
    if (slot == nullptr) slot = &pending_[next_++ % kPendingRequests];  // the oldest goes
    *slot = Request{device, id, descriptorType};
  }

  void Answer(DeviceKey device, std::uint64_t id, const std::uint8_t* data, std::uint32_t length) {
    Request* request = Find(device, id);
    if (request == nullptr || length < kDescriptorHeaderLength) return;
    const std::uint8_t type = request->descriptorType;
    request->descriptorType = 0;
    if (data[kTypeAt] != type) return;
    Device& described = devices_[device];
    if (type == kDeviceDescriptor && length >= kDeviceIdentityLength) {
      described.identified = true;
      described.vendorId = Get16(data + kVendorAt, false);
      described.productId = Get16(data + kProductAt, false);
    }
    if (type == kConfigurationDescriptor) ReadConfiguration(described, data, length);
  }

  const std::map<EndpointKey, Endpoint>& Endpoints() const { return endpoints_; }
  const Device* DeviceOf(DeviceKey key) const {
    const auto found = devices_.find(key);
    return found == devices_.end() ? nullptr : &found->second;
  }

 private:
  struct Request {
    DeviceKey device;
    std::uint64_t id = 0;
    std::uint8_t descriptorType = 0;  // 0: none awaited
  };
  Request* Find(DeviceKey device, std::uint64_t id) {
    for (Request& request : pending_) {
      if (request.descriptorType != 0 && request.device == device && request.id == id) {
        return &request;
      }
    }
    return nullptr;
  }

  static void ReadConfiguration(Device& device, const std::uint8_t* data, std::size_t length) {
    bool hid = false;
    for (std::size_t at = 0; length - at >= kDescriptorHeaderLength &&
                             data[at] >= kDescriptorHeaderLength && data[at] <= length - at;
         at += data[at]) {
      const std::uint8_t* descriptor = data + at;
      if (descriptor[kTypeAt] == kInterfaceDescriptor &&
          descriptor[kLengthAt] >= kInterfaceLength) {
        device.configured = true;
        hid = descriptor[kInterfaceClassAt] == kHidClass;
      }
      if (descriptor[kTypeAt] == kEndpointDescriptor && descriptor[kLengthAt] >= kEndpointLength &&
          hid && (descriptor[kEndpointAddressAt] & kEndpointIn) != 0 &&
          (descriptor[kEndpointAttributesAt] & kEndpointTransfer) == kEndpointInterrupt) {
        device.hidInEndpoints |=
            static_cast<std::uint16_t>(1u << (descriptor[kEndpointAddressAt] & kEndpointNumber));
      }
    }
  }

  std::map<EndpointKey, Endpoint> endpoints_;
  std::map<DeviceKey, Device> devices_;
  std::array<Request, kPendingRequests> pending_{};
  std::size_t next_ = 0;
};

struct Chosen {
  EndpointKey key;
  std::uint32_t reportLength = 0;
  std::size_t count = 0;
};

// A receiver's data interfaces among the surveyed endpoints, in bus, device and endpoint order.
std::vector<Chosen> ChooseStreams(const Survey& survey) {
  std::vector<Chosen> chosen;
  for (const auto& [key, endpoint] : survey.Endpoints()) {
    if (chosen.size() == kMaxReplayStreams) break;
    const auto& usual = endpoint.Usual();
    const Survey::Device* device = survey.DeviceOf(key.device);
    bool data;
    if (device != nullptr && device->identified) {
      data = device->vendorId == kReceiverVendorId && device->productId == kReceiverProductId &&
             (!device->configured ||
              (device->hidInEndpoints >> (key.endpoint & kEndpointNumber) & 1) != 0) &&
             std::find(std::begin(kUnusedInputLengths), std::end(kUnusedInputLengths),
                       usual.length) == std::end(kUnusedInputLengths);
    } else {
      data = std::find(std::begin(kDataInputLengths), std::end(kDataInputLengths), usual.length) !=
                 std::end(kDataInputLengths) &&
             endpoint.looking * 100 >= endpoint.total * kLookingPercent;
    }
    if (data) chosen.push_back({key, usual.length, usual.count});
  }
  return chosen;
}

// The second pass: the chosen endpoints' reports of their usual length.
class Collect {
 public:
  Collect(const std::vector<Chosen>& chosen, Recording& out) : chosen_(chosen), out_(out) {
    out_.streams.resize(chosen.size());
    for (std::size_t k = 0; k < chosen.size(); ++k) {
      out_.streams[k].reportLength = chosen[k].reportLength;
      out_.streams[k].reports.reserve(chosen[k].count * chosen[k].reportLength);
      out_.streams[k].timesUs.reserve(chosen[k].count);
    }
  }
  void Input(EndpointKey key, const std::uint8_t* report, std::uint32_t length,
             std::uint64_t timeUs) {
    for (std::size_t k = 0; k < chosen_.size(); ++k) {
      if (chosen_[k].key != key || chosen_[k].reportLength != length) continue;
      ReplayStream& stream = out_.streams[k];
      stream.reports.insert(stream.reports.end(), report, report + length);
      stream.timesUs.push_back(timeUs);
    }
  }
  void Setup(DeviceKey, std::uint64_t, const std::uint8_t*) {}
  void Answer(DeviceKey, std::uint64_t, const std::uint8_t*, std::uint32_t) {}

 private:
  const std::vector<Chosen>& chosen_;
  Recording& out_;
};

enum class Container { kNone, kPartial, kPcap, kPcapng };

// What the first four bytes announce; kPartial when fewer could still begin a capture.
Container Identify(const std::uint8_t* data, std::size_t size, bool& big, bool& nano) {
  struct Magic {
    std::uint32_t value;
    bool big, nano;
    Container container;
  };
  constexpr Magic kMagics[] = {{kPcapMicroMagic, false, false, Container::kPcap},
                               {kPcapMicroMagic, true, false, Container::kPcap},
                               {kPcapNanoMagic, false, true, Container::kPcap},
                               {kPcapNanoMagic, true, true, Container::kPcap},
                               {kSectionHeaderBlock, false, false, Container::kPcapng}};
  for (const Magic& magic : kMagics) {
    std::uint8_t bytes[4];
    for (int k = 0; k < 4; ++k) {
      bytes[k] = static_cast<std::uint8_t>(magic.value >> (magic.big ? 24 - 8 * k : 8 * k));
    }
    if (std::memcmp(data, bytes, std::min<std::size_t>(size, 4)) != 0) continue;
    big = magic.big;
    nano = magic.nano;
    return size < 4 ? Container::kPartial : magic.container;
  }
  return Container::kNone;
}

template <typename Visit>
bool Walk(const std::uint8_t* data, std::size_t size, Summary& summary, std::string& why,
          Visit&& visit) {
  bool big = false, nano = false;
  switch (size == 0 ? Container::kNone : Identify(data, size, big, nano)) {
    case Container::kPcap:
      return WalkPcap(data, size, big, nano, summary, why, visit);
    case Container::kPcapng:
      return WalkPcapng(data, size, summary, why, visit);
    case Container::kPartial:
      return Truncated(why, size);
    case Container::kNone:
      break;
  }
  return Fail(why,
              size == 0 ? "not a pcap or pcapng capture (empty)" : "not a pcap or pcapng capture");
}

}  // namespace

// Two passes over the file: the first finds the data interfaces and how many reports of which
// length each has, the second copies just those reports into streams sized for them.
bool ParseRecording(const std::uint8_t* data, std::size_t size, const std::string& name,
                    Recording& out, std::string& error) {
  out.streams.clear();
  std::string why;
  Summary summary;
  Survey survey;
  if (!Walk(data, size, summary, why, [&](const Frame& frame) { Decode(frame, survey); })) {
    error = name + ": " + why;
    return false;
  }
  if (!summary.sawUsb) {
    const std::string found =
        summary.sawLinkType ? "link type " + std::to_string(summary.firstLinkType) : "no interface";
    error = name + ": holds no USB traffic (" + found +
            "; a replay takes usbmon, link types 220 and 189, or USBPcap, 249)";
    return false;
  }
  const std::vector<Chosen> chosen = ChooseStreams(survey);
  if (chosen.empty()) {
    error = name + ": holds no input reports of a receiver's data interface";
    return false;
  }
  Collect collect(chosen, out);
  Summary again;
  Walk(data, size, again, why, [&](const Frame& frame) { Decode(frame, collect); });
  std::uint64_t firstUs = kNever;
  for (const ReplayStream& stream : out.streams) {
    for (std::uint64_t timeUs : stream.timesUs) firstUs = std::min(firstUs, timeUs);
  }
  for (ReplayStream& stream : out.streams) {
    for (std::uint64_t& timeUs : stream.timesUs) timeUs -= firstUs;
  }
  return true;
}

bool ReadRecording(const char* path, Recording& out, std::string& error) {
  out.streams.clear();
  const std::string name = path != nullptr ? path : "";
  std::FILE* file = std::fopen(name.c_str(), "rb");
  if (file == nullptr) {
    error = name + ": cannot be opened (" + std::strerror(errno) + ")";
    return false;
  }
  std::vector<std::uint8_t> bytes;
  // The size, when the file tells it (a pipe does not; nor, with a 32-bit long, a file past
  // 2 GiB, which the reading then finds too large). Only a first read tells a file from a
  // directory.
  bool knownTooLarge = false;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long length = std::ftell(file);
    knownTooLarge = length > 0 && static_cast<unsigned long>(length) > kMaxFileBytes;
    if (length > 0 && !knownTooLarge) {
      bytes.reserve(static_cast<std::size_t>(length) + kReadChunk);  // room for the last read
    }
    std::rewind(file);
  }
  int readError = 0;
  bool tooLarge = false;
  while (!tooLarge) {
    const std::size_t at = bytes.size();
    bytes.resize(at + kReadChunk);
    const std::size_t read = std::fread(bytes.data() + at, 1, kReadChunk, file);
    bytes.resize(at + read);
    if (read < kReadChunk) {
      if (std::ferror(file) != 0) readError = errno != 0 ? errno : EIO;
      break;
    }
    tooLarge = knownTooLarge || bytes.size() > kMaxFileBytes;
  }
  std::fclose(file);
  if (readError != 0) {
    error = name + ": cannot be opened (" + std::strerror(readError) + ")";
    return false;
  }
  if (tooLarge) {
    error = name + ": too large (over 1 GiB)";
    return false;
  }
  return ParseRecording(bytes.data(), bytes.size(), name, out, error);
}

}  // namespace zavn::platform::capture
