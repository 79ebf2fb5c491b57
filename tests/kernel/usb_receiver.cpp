#include "kernel/usb_receiver.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>
#include <utility>

#include "commands/output_reports.h"
#include "firmware/images.h"
#include "platform/virtual/transmitter_model.h"
#include "platform/virtual/update_model.h"
#include "platform/virtual/virtual_receiver.h"
#include "support/report_builder.h"

namespace zavn::testing::usb {
namespace {

using platform::virt::kDongleProduct;
using platform::virt::Reenumeration;
using platform::virt::TransmitterModel;
using platform::virt::UpdateModel;

namespace fs = std::filesystem;

constexpr std::size_t kInputReportLength = platform::virt::kReplyReportLength;

constexpr const char* kConfigfs = "/sys/kernel/config";
constexpr const char* kGadgets = "/sys/kernel/config/usb_gadget";
constexpr const char* kControllers = "/sys/class/udc";
constexpr const char* kPlatformDevices = "/sys/devices/platform";
constexpr int kEndpointBytes = 64;  // a transfer's most, a full-speed packet's
// Input reports the device holds while the host does not poll, as its FIFO would, oldest out.
constexpr std::size_t kDeviceQueueReports = 64;
constexpr std::uint8_t kInputReportId = 0x02;
constexpr std::uint16_t kCentre = 0x8000;
// The longest wait in poll, so that a stop request is seen even without a wake.
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

// A numbered report of `length` bytes, its ID included; `main` is 0x81 (input) or 0x91 (output).
void AddReport(Bytes& items, std::uint8_t reportId, std::size_t length, std::uint8_t main) {
  items.insert(items.end(), {0x85, reportId, 0x95, static_cast<std::uint8_t>(length - 1), 0x09,
                             reportId, main, 0x02});
}

// A vendor-defined collection of bytes with input report `reportId` of `inputLength` bytes and,
// for the data interface, the catalogue's output reports.
Bytes Descriptor(std::uint8_t reportId, std::size_t inputLength, bool data) {
  Bytes d = {0x06, 0x00, 0xFF,  // usage page (vendor defined)
             0x09, 0x01,        // usage 1
             0xA1, 0x01,        // collection (application)
             0x15, 0x00,        // logical minimum 0
             0x26, 0xFF, 0x00,  // logical maximum 255
             0x75, 0x08};       // report size 8
  AddReport(d, reportId, inputLength, 0x81);
  for (const OutputReport& report : kCatalogue) {
    if (data) AddReport(d, report.id, report.length, 0x91);
  }
  d.push_back(0xC0);  // end collection
  return d;
}

// What can be read of the file: a device's sysfs files fail to read (ENODEV) once it is going
// away, where a std::ifstream read through istreambuf_iterator would throw.
std::string ReadText(const std::filesystem::path& path) {
  std::string text;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  char buffer[4096];
  for (ssize_t got = 0; fd >= 0 && (got = read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(got));
  if (fd >= 0) close(fd);
  return text;
}

bool WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.flush();
  return static_cast<bool>(out);
}

// The hidraw nodes in /dev of the device with this serial number (HID_UNIQ).
int NodeCount(const std::string& serial) {
  int count = 0;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/sys/class/hidraw", error)) {
    const std::string uevent = "\n" + ReadText(entry.path() / "device" / "uevent");
    count += uevent.find("\nHID_UNIQ=" + serial + "\n") != std::string::npos &&
             fs::exists("/dev" / entry.path().filename(), error);
  }
  return count;
}

// Removes a gadget's folders, which frees its HID functions' minor numbers (four in all).
void TakeApart(const fs::path& g) {
  if (g.empty()) return;
  std::error_code error;
  for (const auto& link : fs::directory_iterator(g / "configs/c.1", error)) {
    if (link.is_symlink()) fs::remove(link.path(), error);
  }
  fs::remove(g / "configs/c.1", error);
  for (const auto& function : fs::directory_iterator(g / "functions", error)) {
    fs::remove(function.path(), error);
  }
  fs::remove(g / "strings/0x409", error);
  fs::remove(g, error);
}

}  // namespace

// One HID function of a gadget: one interface of the USB device, one /dev/hidgN.
struct ReceiverModel::Function {
  std::string name;  // the configfs folder, "hid.data" or "hid.uN"
  Bytes descriptor;
  int fd = -1;                 // the gadget's /dev/hidgN while bound
  std::deque<Bytes> queued{};  // input reports the host has not taken yet
};

struct ReceiverModel::Receiver {
  int id = 0;
  bool plugged = false;
  fs::path gadget;
  std::string serial;
  std::string controller;  // the dummy_hcd device controller it is bound to
  std::vector<Function> unused;
  Function data;
  std::string product;  // as its firmware gives it
  TransmitterModel model;
  UpdateModel update;
  Reenumeration pending;
  Clock::time_point pendingAt{};
  int rateHz = 0;
  Clock::time_point streamStart{};
  std::uint64_t produced = 0;  // records due since streamStart that are accounted for
  std::uint16_t nextSample = 0;
  std::vector<Clock::time_point> sentAt;  // by sample counter: when the gadget took each record
  std::vector<Bytes> outputs;
};

ReceiverModel::ReceiverModel()
    : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), thread_([this] { Loop(); }) {}

ReceiverModel::~ReceiverModel() {
  {
    std::lock_guard guard(mutex_);
    stop_ = true;
  }
  Wake();
  thread_.join();
  if (wakeFd_ >= 0) close(wakeFd_);
}

bool ReceiverModel::Usable(std::string& reason) {
  std::error_code error;
  if (!fs::exists(kGadgets, error)) mount("none", kConfigfs, "configfs", 0, nullptr);
  if (!fs::exists(kGadgets, error)) reason = std::string(kGadgets) + " is missing (configfs)";
  if (fs::is_empty(kControllers, error)) reason = "no USB device controller (dummy_hcd)";
  if (wakeFd_ < 0) reason = "no eventfd";
  return reason.empty();
}

void ReceiverModel::Wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
}

void ReceiverModel::OnThread(const std::function<void()>& action) {
  std::unique_lock lock(mutex_);
  requests_.push_back(action);
  const std::uint64_t ticket = ++requested_;
  Wake();
  done_.wait(lock, [&] { return completed_ >= ticket; });
}

void ReceiverModel::Fail(const std::string& what) {
  if (failure_.empty()) failure_ = what + ": " + std::strerror(errno);
}

// The first device controller that no receiver holds (a receiver holds its controller from
// before its bind to after its unbind), or empty. Called under the lock.
std::string ReceiverModel::FreeController() const {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(kControllers, error)) {
    const std::string name = entry.path().filename();
    const bool taken = std::any_of(receivers_.begin(), receivers_.end(),
                                   [&](const auto& other) { return other->controller == name; });
    if (!taken) return name;
  }
  return {};
}

// Takes a free device controller for the receiver; false when there is none.
bool ReceiverModel::TakeController(Receiver& receiver) {
  receiver.controller = FreeController();
  if (!receiver.controller.empty()) return true;
  errno = EBUSY;
  Fail("no free device controller for " + receiver.gadget.string());
  return false;
}

int ReceiverModel::NextBus() {
  std::string controller;
  {
    std::lock_guard guard(mutex_);
    controller = FreeController();
  }
  // dummy_hcd pairs device controller dummy_udc.N with host controller dummy_hcd.N, whose root
  // hub is usbB for bus B.
  const std::size_t dot = controller.rfind('.');
  if (dot == std::string::npos) return 0;
  const fs::path host = fs::path(kPlatformDevices) / ("dummy_hcd" + controller.substr(dot));
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(host, error)) {
    const std::string name = entry.path().filename();
    if (name.size() > 3 && name.rfind("usb", 0) == 0 &&
        std::isdigit(static_cast<unsigned char>(name[3])))
      return std::atoi(name.c_str() + 3);
  }
  return 0;
}

// Binds the gadget to a free device controller: the host enumerates it.
bool ReceiverModel::Bind(Receiver& receiver) {
  return TakeController(receiver) &&
         Bound(receiver, WriteFile(receiver.gadget / "UDC", receiver.controller));
}

// After the write to UDC: a failed one is noted and frees the controller.
bool ReceiverModel::Bound(Receiver& receiver, bool written) {
  if (!written) {
    Fail("binding " + receiver.gadget.string() + " to " + receiver.controller);
    receiver.controller.clear();
  }
  return receiver.plugged = written;
}

// The model lets go of the data interface: nothing more is written to it or read from it.
void ReceiverModel::Leave(Receiver& receiver) {
  if (receiver.data.fd >= 0) close(receiver.data.fd);
  receiver.data.fd = -1;
  receiver.data.queued.clear();
  receiver.pending = {};
}

// A USB disconnect: the host removes the device and its hidraw nodes.
void ReceiverModel::Unbind(Receiver& receiver) {
  if (!receiver.plugged) return;
  Leave(receiver);
  if (!WriteFile(receiver.gadget / "UDC", "\n")) Fail("unbinding " + receiver.gadget.string());
  receiver.plugged = false;
  receiver.controller.clear();
}

bool ReceiverModel::Send(Receiver& receiver, const std::uint8_t* report, std::size_t length) {
  if (receiver.data.fd < 0) return false;
  if (receiver.data.queued.size() == kDeviceQueueReports) Pop(receiver, false);
  receiver.data.queued.emplace_back(report, report + length);
  Flush(receiver);
  return true;
}

// Hands the queued reports to the gadget while it takes them: it holds one until the host's
// next poll of the interrupt endpoint.
void ReceiverModel::Flush(Receiver& receiver) {
  Function& function = receiver.data;
  while (function.fd >= 0 && !function.queued.empty()) {
    const Bytes& report = function.queued.front();
    const ssize_t written = write(function.fd, report.data(), report.size());
    if (written < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (written < 0 && errno != ESHUTDOWN) Fail("writing to " + function.name);
    Pop(receiver, written >= 0);
  }
}

// The oldest queued report goes; a motion record notes when the gadget took it (which it does
// once the host has taken the one before), none when it never went onto the bus.
void ReceiverModel::Pop(Receiver& receiver, bool sent) {
  const Bytes& report = receiver.data.queued.front();
  if (report[3] == 'A' && !receiver.sentAt.empty())
    receiver.sentAt[(report[4] << 8) | report[5]] = sent ? Clock::now() : Clock::time_point{};
  receiver.data.queued.pop_front();
}

ReceiverModel::Receiver* ReceiverModel::Find(int id) {
  const auto at = std::find_if(receivers_.begin(), receivers_.end(),
                               [id](const auto& receiver) { return receiver->id == id; });
  return at == receivers_.end() ? nullptr : at->get();
}

void ReceiverModel::ReadOutputs(Receiver& receiver) {
  std::uint8_t report[512];
  for (const int fd = receiver.data.fd; fd >= 0 && receiver.data.fd == fd;) {
    const ssize_t got = read(fd, report, sizeof report);
    if (got < 0) {
      if (errno != EAGAIN && errno != EINTR && errno != ESHUTDOWN)
        Fail("reading the data interface");
      if (errno != EINTR) return;
      continue;
    }
    if (got == 0) return;
    const auto length = static_cast<std::size_t>(got);
    receiver.outputs.emplace_back(report, report + length);
    // The answers may re-enumerate the device: its descriptor is then another one.
    Answer(receiver, report, length);
  }
}

void ReceiverModel::Answer(Receiver& receiver, const std::uint8_t* report, std::size_t length) {
  const auto now = Clock::now();
  // The answers follow the motion the transmitter sent before the command arrived.
  StreamDue(receiver, now);
  const auto bytes = static_cast<std::uint32_t>(length);
  TransmitterModel::Reply replies[2 * platform::virt::kMaxReplies];
  int count = receiver.model.Accept(report, bytes, replies);
  Reenumeration next;
  count += receiver.update.Accept(receiver.product.c_str(), report, bytes, replies + count, next);
  for (int k = 0; k < count; ++k) Send(receiver, replies[k], kInputReportLength);
  if (next.product == nullptr) return;
  if (next.afterMs == 0) {
    Reenumerate(receiver, next.product);
  } else {
    receiver.pending = next;
    receiver.pendingAt = now + std::chrono::milliseconds(next.afterMs);
  }
}

void ReceiverModel::StreamDue(Receiver& receiver, Clock::time_point now) {
  if (receiver.rateHz == 0 || !receiver.plugged) return;
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::microseconds>(now - receiver.streamStart).count();
  const auto due = static_cast<std::uint64_t>(elapsed) * receiver.rateHz / 1'000'000;
  // Only the normal firmware streams, and only once the host has configured the device.
  if (receiver.product != kDongleProduct || receiver.data.fd < 0) {
    receiver.produced = due;
    return;
  }
  for (; receiver.produced < due; ++receiver.produced) {
    if (!SendMotion(receiver)) return;
  }
}

// The next motion record: the counter in the first value, the others at rest.
bool ReceiverModel::SendMotion(Receiver& receiver) {
  std::uint8_t report[kInputReportLength] = {};
  PutMotion(report, {receiver.nextSample, kCentre, kCentre, kCentre, kCentre, kCentre});
  if (receiver.data.fd < 0) return false;
  if (receiver.sentAt.empty()) receiver.sentAt.resize(std::size_t{1} << 16);
  receiver.sentAt[receiver.nextSample++] = {};
  return Send(receiver, report, sizeof report);
}

// Leaves the bus and enumerates again under the new firmware's product string.
void ReceiverModel::Reenumerate(Receiver& receiver, const char* product) {
  Unbind(receiver);
  receiver.product = product;
  receiver.pending = {};
  receiver.update.Start(product);
  if (!WriteFile(receiver.gadget / "strings/0x409/product", product)) Fail("product string");
  Bind(receiver);
  receiver.streamStart = Clock::now();
  receiver.produced = 0;
}

Clock::time_point ReceiverModel::NextDue(Clock::time_point now) {
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
    // A function bound but not yet open waits for its /dev/hidgN.
    if (receiver->data.fd < 0) next = std::min(next, now + std::chrono::milliseconds(5));
  }
  return next;
}

// Opens the bound functions' /dev/hidgN (devtmpfs makes them shortly after the bind).
static void OpenBound(const fs::path& gadget, const std::string& name, int& fd) {
  if (fd >= 0) return;
  const std::string dev = ReadText(gadget / "functions" / name / "dev");
  const std::size_t colon = dev.find(':');
  if (colon == std::string::npos) return;
  const std::string node = "/dev/hidg" + std::to_string(std::atoi(dev.c_str() + colon + 1));
  fd = open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
}

void ReceiverModel::Loop() {
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
    // The interfaces that carry no data are left alone: the library never writes to them.
    for (const auto& receiver : receivers_) {
      const Function& data = receiver->data;
      const short events = data.queued.empty() ? POLLIN : POLLIN | POLLOUT;
      if (data.fd >= 0) fds.push_back({data.fd, events, 0});
    }
    const auto now = Clock::now();
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(NextDue(now) - now).count();
    lock.unlock();
    poll(fds.data(), fds.size(), static_cast<int>(std::max<std::int64_t>(wait, 0)));
    lock.lock();

    std::uint64_t wakes = 0;
    [[maybe_unused]] const ssize_t drained = read(wakeFd_, &wakes, sizeof wakes);
    // Every fd is non-blocking: each function is read until it has nothing more.
    for (auto& receiver : receivers_) {
      if (!receiver->plugged) continue;
      OpenBound(receiver->gadget, receiver->data.name, receiver->data.fd);
      ReadOutputs(*receiver);
      Flush(*receiver);
      if (receiver->pending.product != nullptr && Clock::now() >= receiver->pendingAt) {
        Reenumerate(*receiver, receiver->pending.product);
      }
      StreamDue(*receiver, Clock::now());
    }
  }
  for (auto& receiver : receivers_) {
    Unbind(*receiver);
    TakeApart(receiver->gadget);
  }
}

int ReceiverModel::Plug(const ReceiverOptions& options) {
  auto owned = std::make_unique<Receiver>();
  Receiver* receiver = owned.get();
  {
    std::lock_guard guard(mutex_);
    receiver->id = ++plugs_;
  }
  receiver->serial = "zavn" + std::to_string(getpid()) + "r" + std::to_string(receiver->id);
  receiver->gadget = fs::path(kGadgets) / receiver->serial;
  const fs::path& g = receiver->gadget;
  std::error_code error;
  bool made =
      fs::create_directory(g, error) && WriteFile(g / "idVendor", std::to_string(options.vendor)) &&
      WriteFile(g / "idProduct", std::to_string(platform::virt::kReceiverProduct)) &&
      WriteFile(g / "bcdDevice", "0x0100") && fs::create_directory(g / "strings/0x409", error) &&
      (options.maker.empty() || WriteFile(g / "strings/0x409/manufacturer", options.maker)) &&
      WriteFile(g / "strings/0x409/product", options.product) &&
      WriteFile(g / "strings/0x409/serialnumber", receiver->serial) &&
      fs::create_directory(g / "configs/c.1", error);
  for (const std::int32_t length : platform::virt::kUnusedInputLengths) {
    if (options.unusedInterfaces)
      receiver->unused.push_back(
          {.name = "hid.u" + std::to_string(length),
           .descriptor = Descriptor(0x01, static_cast<std::size_t>(length), false)});
  }
  receiver->data = {.name = "hid.data",
                    .descriptor = Descriptor(kInputReportId, kInputReportLength, true)};
  // Linked in this order: the interfaces are numbered so.
  for (std::size_t k = 0; k <= receiver->unused.size(); ++k) {
    const Function* function = k < receiver->unused.size() ? &receiver->unused[k] : &receiver->data;
    const fs::path folder = g / "functions" / function->name;
    made = made && fs::create_directory(folder, error) && WriteFile(folder / "protocol", "0") &&
           WriteFile(folder / "subclass", "0") &&
           WriteFile(folder / "report_length", std::to_string(kEndpointBytes)) &&
           WriteFile(folder / "report_desc",
                     std::string(function->descriptor.begin(), function->descriptor.end()));
    fs::create_symlink(folder, g / "configs/c.1" / function->name, error);
    made = made && !error;
  }
  receiver->product = options.product;
  receiver->model.Start((receiver->id - 1) % platform::virt::kMaxTransmitters);
  receiver->update.Start(receiver->product.c_str());
  receiver->nextSample = options.firstSample;
  {
    std::lock_guard guard(mutex_);
    receivers_.push_back(std::move(owned));
    if (!made) Fail("making the gadget " + g.string() + " (at most four HID functions at once)");
    if (!made || !TakeController(*receiver)) return 0;
  }
  const bool written = WriteFile(receiver->gadget / "UDC", receiver->controller);
  std::lock_guard guard(mutex_);
  return Bound(*receiver, written) ? receiver->id : 0;
}

void ReceiverModel::Unplug(int id, int lastRecords) {
  bool plugged = false;
  fs::path gadget;
  OnThread([&] {
    Receiver* receiver = Find(id);
    if (receiver == nullptr) return;
    for (int k = 0; k < lastRecords && receiver->data.fd >= 0; ++k) SendMotion(*receiver);
    Leave(*receiver);
    plugged = std::exchange(receiver->plugged, false);
    gadget = std::exchange(receiver->gadget, {});
  });
  const bool unbound = !plugged || WriteFile(gadget / "UDC", "\n");
  TakeApart(gadget);
  std::lock_guard guard(mutex_);
  if (!unbound) Fail("unbinding " + gadget.string());
  if (Receiver* receiver = Find(id)) receiver->controller.clear();
}

bool ReceiverModel::AwaitNodes(int id, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    std::string serial;
    int interfaces = 0;
    {
      std::lock_guard guard(mutex_);
      const Receiver* receiver = Find(id);
      if (receiver == nullptr || !receiver->plugged) return false;
      serial = receiver->serial;
      interfaces = static_cast<int>(receiver->unused.size()) + 1;
    }
    if (NodeCount(serial) == interfaces) return true;
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void ReceiverModel::Stream(int id, int rateHz) {
  OnThread([&] {
    Receiver* receiver = Find(id);
    if (receiver == nullptr) return;
    StreamDue(*receiver, Clock::now());
    receiver->rateHz = rateHz;
    receiver->streamStart = Clock::now();
    receiver->produced = 0;
  });
}

std::uint16_t ReceiverModel::NextSample(int id) {
  std::lock_guard guard(mutex_);
  const Receiver* receiver = Find(id);
  return receiver == nullptr ? 0 : receiver->nextSample;
}

std::vector<Clock::time_point> ReceiverModel::SentTimes(int id) {
  std::lock_guard guard(mutex_);
  const Receiver* receiver = Find(id);
  return receiver == nullptr ? std::vector<Clock::time_point>{} : receiver->sentAt;
}

std::vector<Bytes> ReceiverModel::Outputs(int id, std::size_t from) {
  std::lock_guard guard(mutex_);
  const Receiver* receiver = Find(id);
  if (receiver == nullptr || from >= receiver->outputs.size()) return {};
  return {receiver->outputs.begin() + static_cast<std::ptrdiff_t>(from), receiver->outputs.end()};
}

std::string ReceiverModel::Failure() {
  std::lock_guard guard(mutex_);
  return failure_;
}

}  // namespace zavn::testing::usb
