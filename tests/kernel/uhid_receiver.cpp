#include "kernel/uhid_receiver.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>

#include "commands/output_reports.h"
#include "firmware/images.h"
#include "platform/virtual/transmitter_model.h"
#include "platform/virtual/update_model.h"
#include "support/report_builder.h"

namespace zavn::testing::uhid {
namespace {

using platform::virt::kDongleProduct;
using platform::virt::Reenumeration;
using platform::virt::TransmitterModel;
using platform::virt::UpdateModel;

static_assert(platform::virt::kReplyReportLength == kInputReportLength);

constexpr const char* kUhidPath = "/dev/uhid";
constexpr std::size_t kUnusedInputLengths[] = {4, 14};
constexpr std::uint8_t kInputReportId = 0x02;
constexpr std::uint16_t kCentre = 0x8000;
constexpr int kPlayers = 4;  // the transmitter model's serial numbers repeat after four
// The longest the model waits in poll, so that a stop request is seen even without a wake.
constexpr auto kLongestWait = std::chrono::milliseconds(50);

template <typename Report>
constexpr std::size_t kLength = std::tuple_size_v<Report>;

// Each output report ID of the catalogue with its longest layout.
struct OutputReport {
  std::uint8_t id;
  std::size_t length;
};
constexpr std::size_t kImageReportLength = firmware::kHarlonRowChars / 2;  // rows and HEX records
namespace id = commands::id;
constexpr OutputReport kCatalogue[] = {
    {id::kBrowser, kLength<commands::SwitchReport>},
    {id::kKeyboard, kLength<commands::SwitchReport>},
    {id::kMotionKey, kImageReportLength},
    {id::kPlayerNumber, kLength<commands::ValueReport>},
    {id::kSerial, kLength<commands::SerialDataReport>},
    {id::kAntenna, kLength<commands::ValueReport>},
    {id::kMotor, kLength<commands::MotorReport>},
    {id::kKeyboardMouse, kLength<commands::KeyboardMouseReport>},
    {id::kAccount, kLength<commands::AccountReport>},
    {id::kVersion, kLength<commands::VersionReport>},
    {id::kJoystick, kLength<commands::JoystickReport>},
    {id::kHexRecord, kImageReportLength},
    {id::kBootCommand, kLength<commands::BootCommandReport>},
    {id::kScreen, kLength<commands::ScreenReport>},
    {id::kAppInfo, kLength<commands::AppInfoReport>},
};

// A vendor-defined application collection of bytes, holding `items`.
Bytes VendorCollection(const Bytes& items) {
  Bytes d = {0x06, 0x00, 0xFF,  // usage page (vendor defined)
             0x09, 0x01,        // usage 1
             0xA1, 0x01,        // collection (application)
             0x15, 0x00,        // logical minimum 0
             0x26, 0xFF, 0x00,  // logical maximum 255
             0x75, 0x08};       // report size 8
  d.insert(d.end(), items.begin(), items.end());
  d.push_back(0xC0);  // end collection
  return d;
}

// A numbered report of `length` bytes, its ID included; `main` is 0x81 (input) or 0x91 (output).
void AddReport(Bytes& items, std::uint8_t reportId, std::size_t length, std::uint8_t main) {
  const Bytes report = {0x85, reportId, 0x95, static_cast<std::uint8_t>(length - 1),
                        0x09, reportId, main, 0x02};
  items.insert(items.end(), report.begin(), report.end());
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whether the hidraw node of the device whose HID_UNIQ is `uniq` shows in sysfs and in /dev.
bool NodePresent(const std::string& uniq) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/sys/class/hidraw", error)) {
    const std::string uevent = ReadText(entry.path() / "device" / "uevent");
    if (uevent.find("\nHID_UNIQ=" + uniq + "\n") == std::string::npos) continue;
    return std::filesystem::exists("/dev" / entry.path().filename(), error);
  }
  return false;
}

// The HID_UNIQ by which a device's hidraw node is found: process, receiver, device.
std::string Uniq(int receiver, const std::string& device) {
  return "zavn" + std::to_string(getpid()) + "r" + std::to_string(receiver) + device;
}

void CopyText(std::uint8_t* to, std::size_t room, const std::string& text) {
  std::memcpy(to, text.c_str(), std::min(text.size() + 1, room - 1));
}

// The data interface: input report 2 and each output report of the catalogue.
Bytes DataInterfaceDescriptor() {
  Bytes items;
  AddReport(items, kInputReportId, kInputReportLength, 0x81);
  for (const OutputReport& report : kCatalogue) AddReport(items, report.id, report.length, 0x91);
  return VendorCollection(items);
}

// An interface that carries no data: one input report of `inputReportLength` bytes.
Bytes UnusedInterfaceDescriptor(std::size_t inputReportLength) {
  Bytes items;
  AddReport(items, 0x01, inputReportLength, 0x81);
  return VendorCollection(items);
}

}  // namespace

struct UhidModel::Device {
  int fd = -1;
  std::string name, uniq;
  std::uint16_t vendor = 0;
  Bytes descriptor;
  bool started = false;  // UHID_START came: the HID driver is bound
  bool open = false;
  int opens = 0;
  std::size_t outputs = 0;
};

struct UhidModel::Receiver {
  int id = 0;
  bool plugged = false;
  std::vector<Device> unused;
  Device data;
  std::string product;  // the data interface's, as its firmware gives it
  std::vector<std::string> products;
  std::uint32_t generation = 0;
  int dataOpens = 0;  // of earlier generations
  TransmitterModel model;
  UpdateModel update;
  Reenumeration pending;
  Clock::time_point pendingAt{};
  int rateHz = 0;
  Clock::time_point streamStart{};
  std::uint64_t produced = 0;  // records due since streamStart that are accounted for
  std::uint16_t nextSample = 0;
  Clock::time_point lastSampleAt{};
  std::vector<Clock::time_point> sentAt;  // by sample counter, once streaming began
  std::vector<Output> outputs;
};

UhidModel::UhidModel()
    : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), thread_([this] { Loop(); }) {}

UhidModel::~UhidModel() {
  {
    std::lock_guard guard(mutex_);
    stop_ = true;
  }
  Wake();
  thread_.join();
  if (wakeFd_ >= 0) close(wakeFd_);
}

bool UhidModel::Usable(std::string& reason) {
  const int fd = open(kUhidPath, O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    reason = std::string(kUhidPath) + ": " + std::strerror(errno);
    return false;
  }
  close(fd);
  if (wakeFd_ < 0) {
    reason = "no eventfd";
    return false;
  }
  return true;
}

void UhidModel::Wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
}

void UhidModel::OnThread(const std::function<void()>& action) {
  std::unique_lock lock(mutex_);
  requests_.push_back(action);
  const std::uint64_t ticket = ++requested_;
  Wake();
  done_.wait(lock, [&] { return completed_ >= ticket; });
}

void UhidModel::Fail(const std::string& what) {
  if (failure_.empty()) failure_ = what + ": " + std::strerror(errno);
}

bool UhidModel::Create(Device& device) {
  device.fd = open(kUhidPath, O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (device.fd < 0) {
    Fail("open /dev/uhid");
    return false;
  }
  const auto event = std::make_unique<uhid_event>();
  event->type = UHID_CREATE2;
  uhid_create2_req& create = event->u.create2;
  CopyText(create.name, sizeof create.name, device.name);
  CopyText(create.phys, sizeof create.phys, "zavn-kernel-test");
  CopyText(create.uniq, sizeof create.uniq, device.uniq);
  create.rd_size = static_cast<std::uint16_t>(device.descriptor.size());
  std::memcpy(create.rd_data, device.descriptor.data(), device.descriptor.size());
  create.bus = BUS_USB;
  create.vendor = device.vendor;
  create.product = kReceiverProduct;
  create.version = 0x0100;
  if (write(device.fd, event.get(), sizeof *event) != static_cast<ssize_t>(sizeof *event)) {
    Fail("UHID_CREATE2 " + device.name);
    close(device.fd);
    device.fd = -1;
    return false;
  }
  device.started = device.open = false;
  return true;
}

void UhidModel::Destroy(Device& device) {
  if (device.fd < 0) return;
  const auto event = std::make_unique<uhid_event>();
  event->type = UHID_DESTROY;
  if (write(device.fd, event.get(), sizeof *event) < 0) Fail("UHID_DESTROY " + device.name);
  close(device.fd);
  device.fd = -1;
  device.started = device.open = false;
}

bool UhidModel::Send(Device& device, const std::uint8_t* report, std::size_t length) {
  uhid_event event;
  event.type = UHID_INPUT2;
  event.u.input2.size = static_cast<std::uint16_t>(length);
  std::memcpy(event.u.input2.data, report, length);
  const std::size_t bytes = sizeof event.type + sizeof event.u.input2.size + length;
  if (write(device.fd, &event, bytes) == static_cast<ssize_t>(bytes)) return true;
  Fail("UHID_INPUT2 " + device.name);
  return false;
}

UhidModel::Receiver* UhidModel::Find(int id) {
  for (auto& receiver : receivers_) {
    if (receiver->id == id) return receiver.get();
  }
  return nullptr;
}

void UhidModel::ReadEvents(Receiver& receiver, Device& device) {
  if (device.fd < 0) return;
  const bool isData = &device == &receiver.data;
  uhid_event event;
  for (const int fd = device.fd; device.fd == fd;) {
    const ssize_t got = read(fd, &event, sizeof event);
    if (got < 0) {
      if (errno != EAGAIN && errno != EINTR) Fail("read " + device.name);
      if (errno != EINTR) return;
      continue;
    }
    switch (event.type) {
      case UHID_START:
        device.started = true;
        break;
      case UHID_STOP:
        device.started = false;
        break;
      case UHID_OPEN:
        device.open = true;
        ++device.opens;
        break;
      case UHID_CLOSE:
        device.open = false;
        break;
      case UHID_OUTPUT: {
        const std::uint8_t* report = event.u.output.data;
        const std::size_t length = event.u.output.size;
        if (!isData) {
          ++device.outputs;
          break;
        }
        receiver.outputs.push_back({receiver.product, Bytes(report, report + length)});
        // The answers may re-create this very device: its fd is then another one.
        Answer(receiver, report, length);
        break;
      }
      case UHID_GET_REPORT: {
        // The receiver has no reports to give on request.
        uhid_event reply{};
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply.id = event.u.get_report.id;
        reply.u.get_report_reply.err = EIO;
        if (write(fd, &reply, sizeof reply) < 0) Fail("UHID_GET_REPORT_REPLY");
        break;
      }
      case UHID_SET_REPORT: {
        uhid_event reply{};
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = event.u.set_report.id;
        if (write(fd, &reply, sizeof reply) < 0) Fail("UHID_SET_REPORT_REPLY");
        break;
      }
      default:
        break;
    }
  }
}

void UhidModel::Answer(Receiver& receiver, const std::uint8_t* report, std::size_t length) {
  const auto now = Clock::now();
  // The answers follow the motion the transmitter sent before the command arrived.
  StreamDue(receiver, now);
  const auto bytes = static_cast<std::uint32_t>(length);
  TransmitterModel::Reply replies[platform::virt::kMaxReplies];
  int count = receiver.model.Accept(report, bytes, replies);
  for (int k = 0; k < count; ++k) Send(receiver.data, replies[k], kInputReportLength);
  Reenumeration next;
  count = receiver.update.Accept(receiver.product.c_str(), report, bytes, replies, next);
  for (int k = 0; k < count; ++k) Send(receiver.data, replies[k], kInputReportLength);
  if (next.product == nullptr) return;
  if (next.afterMs == 0) {
    Reenumerate(receiver, next.product);
  } else {
    receiver.pending = next;
    receiver.pendingAt = now + std::chrono::milliseconds(next.afterMs);
  }
}

void UhidModel::StreamDue(Receiver& receiver, Clock::time_point now) {
  if (receiver.rateHz == 0 || !receiver.plugged) return;
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::microseconds>(now - receiver.streamStart).count();
  const auto due = static_cast<std::uint64_t>(elapsed) * receiver.rateHz / 1'000'000;
  // Only the normal firmware streams, and only once the HID driver has the device.
  if (receiver.product != kDongleProduct || !receiver.data.started) {
    receiver.produced = due;
    return;
  }
  for (; receiver.produced < due; ++receiver.produced) {
    if (!SendMotion(receiver)) return;
  }
}

// The next motion record: the counter in the first value, the others at rest.
bool UhidModel::SendMotion(Receiver& receiver) {
  std::uint8_t report[kInputReportLength] = {};
  PutMotion(report, {receiver.nextSample, kCentre, kCentre, kCentre, kCentre, kCentre});
  if (!Send(receiver.data, report, sizeof report)) return false;
  receiver.lastSampleAt = Clock::now();
  if (receiver.sentAt.empty()) receiver.sentAt.resize(std::size_t{1} << 16);
  receiver.sentAt[receiver.nextSample++] = receiver.lastSampleAt;
  return true;
}

void UhidModel::Reenumerate(Receiver& receiver, const char* product) {
  Destroy(receiver.data);
  receiver.dataOpens += receiver.data.opens;
  receiver.data.opens = 0;
  receiver.product = product;
  receiver.products.push_back(product);
  receiver.pending = {};
  receiver.update.Start(product);
  receiver.data.name = product;
  receiver.data.uniq = Uniq(receiver.id, "g" + std::to_string(++receiver.generation));
  Create(receiver.data);
  receiver.streamStart = Clock::now();
  receiver.produced = 0;
}

Clock::time_point UhidModel::NextDue(Clock::time_point now) {
  Clock::time_point next = now + kLongestWait;
  for (const auto& receiver : receivers_) {
    if (!receiver->plugged) continue;
    if (receiver->pending.product != nullptr) next = std::min(next, receiver->pendingAt);
    if (receiver->rateHz > 0) {
      const auto at = receiver->streamStart +
                      std::chrono::microseconds((receiver->produced + 1) * 1'000'000 /
                                                static_cast<std::uint64_t>(receiver->rateHz));
      next = std::min(next, at);
    }
  }
  return next;
}

void UhidModel::Loop() {
  std::unique_lock lock(mutex_);
  std::vector<pollfd> fds;
  while (!stop_) {
    // Requests come in under the lock, which the thread holds while it runs them.
    std::vector<std::function<void()>> batch;
    batch.swap(requests_);
    for (auto& request : batch) {
      request();
      ++completed_;
    }
    done_.notify_all();

    fds.assign(1, {wakeFd_, POLLIN, 0});
    for (const auto& receiver : receivers_) {
      for (const Device& device : receiver->unused) {
        if (device.fd >= 0) fds.push_back({device.fd, POLLIN, 0});
      }
      if (receiver->data.fd >= 0) fds.push_back({receiver->data.fd, POLLIN, 0});
    }
    const auto now = Clock::now();
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(NextDue(now) - now).count();
    lock.unlock();
    poll(fds.data(), fds.size(), static_cast<int>(std::max<std::int64_t>(wait, 0)));
    lock.lock();

    std::uint64_t wakes = 0;
    [[maybe_unused]] const ssize_t drained = read(wakeFd_, &wakes, sizeof wakes);
    // Every fd is non-blocking: each device is read until it has nothing more.
    for (auto& receiver : receivers_) {
      for (Device& device : receiver->unused) ReadEvents(*receiver, device);
      ReadEvents(*receiver, receiver->data);
      if (receiver->pending.product != nullptr && Clock::now() >= receiver->pendingAt) {
        Reenumerate(*receiver, receiver->pending.product);
      }
      StreamDue(*receiver, Clock::now());
    }
  }
  for (auto& receiver : receivers_) {
    for (Device& device : receiver->unused) Destroy(device);
    Destroy(receiver->data);
  }
}

int UhidModel::Plug(const ReceiverOptions& options) {
  int id = 0;
  OnThread([&] {
    auto receiver = std::make_unique<Receiver>();
    receiver->id = static_cast<int>(receivers_.size()) + 1;
    bool created = true;
    if (options.unusedInterfaces) {
      for (const std::size_t length : kUnusedInputLengths) {
        Device& device = receiver->unused.emplace_back();
        device.name = options.product;
        device.uniq = Uniq(receiver->id, "u" + std::to_string(length));
        device.vendor = options.vendor;
        device.descriptor = UnusedInterfaceDescriptor(length);
        created = created && Create(device);
      }
    }
    receiver->data.name = options.product;
    receiver->data.uniq = Uniq(receiver->id, "g0");
    receiver->data.vendor = options.vendor;
    receiver->data.descriptor = DataInterfaceDescriptor();
    created = created && Create(receiver->data);
    receiver->plugged = true;
    receiver->product = options.product;
    receiver->products.push_back(options.product);
    receiver->model.Start((receiver->id - 1) % kPlayers);
    receiver->update.Start(receiver->product.c_str());
    receiver->nextSample = options.firstSample;
    if (created) {
      id = receiver->id;
    } else {
      for (Device& device : receiver->unused) Destroy(device);
      Destroy(receiver->data);
      receiver->plugged = false;
    }
    receivers_.push_back(std::move(receiver));
  });
  return id;
}

void UhidModel::Unplug(int id, int lastRecords) {
  OnThread([&] {
    Receiver* receiver = Find(id);
    if (receiver == nullptr) return;
    for (int k = 0; k < lastRecords && receiver->data.started; ++k) SendMotion(*receiver);
    for (Device& device : receiver->unused) Destroy(device);
    Destroy(receiver->data);
    receiver->plugged = false;
    receiver->pending = {};
  });
}

bool UhidModel::AwaitNodes(int id, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    std::vector<std::string> uniqs;
    {
      std::lock_guard guard(mutex_);
      const Receiver* receiver = Find(id);
      if (receiver == nullptr || !receiver->plugged) return false;
      for (const Device& device : receiver->unused) uniqs.push_back(device.uniq);
      uniqs.push_back(receiver->data.uniq);
    }
    if (std::all_of(uniqs.begin(), uniqs.end(), NodePresent)) return true;
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void UhidModel::Stream(int id, int rateHz) {
  OnThread([&] {
    Receiver* receiver = Find(id);
    if (receiver == nullptr) return;
    StreamDue(*receiver, Clock::now());
    receiver->rateHz = rateHz;
    receiver->streamStart = Clock::now();
    receiver->produced = 0;
  });
}

ReceiverView UhidModel::View(int id) {
  std::lock_guard guard(mutex_);
  ReceiverView view;
  const Receiver* receiver = Find(id);
  if (receiver == nullptr) return view;
  view.dataOpen = receiver->data.open;
  view.dataOpens = receiver->dataOpens + receiver->data.opens;
  for (const Device& device : receiver->unused) {
    view.unusedOpen = view.unusedOpen || device.open;
    view.unusedOpens += device.opens;
    view.unusedOutputs += device.outputs;
  }
  view.products = receiver->products;
  view.nextSample = receiver->nextSample;
  view.lastSampleAt = receiver->lastSampleAt;
  view.outputs = receiver->outputs.size();
  view.transmitter = receiver->model.State();
  view.bootloaderSum = receiver->update.ReceivedSum();
  return view;
}

std::vector<Clock::time_point> UhidModel::SentTimes(int id) {
  std::lock_guard guard(mutex_);
  const Receiver* receiver = Find(id);
  return receiver == nullptr ? std::vector<Clock::time_point>{} : receiver->sentAt;
}

std::vector<Output> UhidModel::Outputs(int id, std::size_t from) {
  std::lock_guard guard(mutex_);
  const Receiver* receiver = Find(id);
  if (receiver == nullptr || from >= receiver->outputs.size()) return {};
  return {receiver->outputs.begin() + static_cast<std::ptrdiff_t>(from), receiver->outputs.end()};
}

std::string UhidModel::Failure() {
  std::lock_guard guard(mutex_);
  return failure_;
}

}  // namespace zavn::testing::uhid
