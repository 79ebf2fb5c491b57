// The hidraw backend against a fake sysfs tree and stand-in device nodes (FIFOs, which keep the
// boundaries of equal-sized reports). The library through the kernel's real hidraw is
// tests/kernel/.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "platform/hid_port.h"
#include "platform/posix/hidraw_port.h"
#include "support/descriptors.h"
#include "support/eventually.h"

// The test binary's allocations go to malloc as before; a thread counts its own while
// t_counting is set. Every form is replaced, so that new and delete match.
namespace {
thread_local bool t_counting = false;
thread_local int t_allocations = 0;

void* Allocate(std::size_t size) noexcept {
  if (t_counting) ++t_allocations;
  return std::malloc(size != 0 ? size : 1);
}
void* AllocateOrThrow(std::size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) {
  return AllocateOrThrow(size);
}
void* operator new[](std::size_t size) {
  return AllocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

namespace zavn::testing {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

class HidrawTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) /
            ("zavn_hidraw_" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    // Nodes as the kernel lays them out: the class entry links to the HID device, below the USB
    // interface and device that carry the product string. Each has the receiver's descriptor.
    AddNode("hidraw0", "usb1/1-1", "Maker NOLTADongle", "NOLTADongle\n", "0003:0000FFFF:00000008");
    AddNode("hidraw1", "usb1/1-2", "Logi K\xC3\xA9yboard", "", "0003:0000046D:0000C31C");
    AddNode("hidraw10", "usb2/2-1", "", "");
    AddNode("hidraw2", "usb1/1-3", "x", "");
    platform::SetHidrawRoots({(root_ / "class/hidraw").string(), (root_ / "dev").string()});
  }
  void TearDown() override {
    port_.WatchInterfaces(nullptr);
    platform::SetHidrawRoots({});
    fs::remove_all(root_);
  }

  void AddNode(const std::string& name, const std::string& usb, const std::string& hidName,
               const std::string& product, const std::string& hidId = "") {
    const fs::path device =
        root_ / "devices" / usb / (usb.substr(usb.find('/') + 1) + ":1.0") / "hid";
    Write(device / "uevent", "DRIVER=hid-generic\n" +
                                 (hidId.empty() ? "" : "HID_ID=" + hidId + "\n") +
                                 "HID_NAME=" + hidName + "\n");
    const std::vector<std::uint8_t>& descriptor = descriptors::kReceiver;
    Write(device / "report_descriptor", std::string(descriptor.begin(), descriptor.end()));
    if (!product.empty()) Write(root_ / "devices" / usb / "product", product);
    fs::create_directories(root_ / "class/hidraw" / name);
    fs::create_directory_symlink(device, root_ / "class/hidraw" / name / "device");
    fs::create_directories(root_ / "dev");
    ASSERT_EQ(mkfifo((root_ / "dev" / name).c_str(), 0600), 0);
  }

  std::string Node(const std::string& name) const { return (root_ / "dev" / name).string(); }

  fs::path root_;
  platform::HidPort& port_ = platform::OsHidPort();
};

std::u16string Utf16(const std::uint8_t* bytes) {
  std::u16string text;
  for (int i = 0; bytes[2 * i] != 0 || bytes[2 * i + 1] != 0; ++i) {
    text += static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return text;
}

// Which nodes are taken is checked end to end behind the kernel's hidraw (tests/kernel/); here,
// what the backend reads for it: the listing, product strings, and identity from sysfs alone.
TEST_F(HidrawTest, NodesAreListedInNumberOrderNameThemselvesAndAreIdentifiedFromSysfs) {
  char path[platform::kDevicePathSize];
  std::vector<std::string> found;
  for (std::uint32_t n = 0; port_.InterfacePath(n, path) == platform::PathResult::kFound; ++n) {
    found.push_back(fs::path(path).filename().string());
  }
  EXPECT_EQ(found, (std::vector<std::string>{"hidraw0", "hidraw1", "hidraw2", "hidraw10"}));
  EXPECT_EQ(port_.InterfacePaths(2), (std::vector<std::string>{Node("hidraw0"), Node("hidraw1")}));

  const platform::HidHandle receiver = port_.Open(Node("hidraw0").c_str());
  ASSERT_TRUE(platform::IsUsable(receiver));
  std::uint8_t product[256] = {};
  std::uint8_t small[8];
  ASSERT_TRUE(port_.ProductString(receiver, small, sizeof small));
  EXPECT_EQ(Utf16(small), u"NOL");  // cut to whole characters, terminated
  const platform::HidHandle keyboard = port_.Open(Node("hidraw1").c_str());
  ASSERT_TRUE(port_.ProductString(keyboard, product, sizeof product));
  EXPECT_EQ(Utf16(product), u"Logi K\u00E9yboard");  // no USB string: HID_NAME, from UTF-8
  const platform::HidHandle unnamed = port_.Open(Node("hidraw10").c_str());
  EXPECT_FALSE(port_.ProductString(unnamed, product, sizeof product));
  port_.Close(unnamed);
  port_.Close(keyboard);
  port_.Close(receiver);
  platform::HidAttributes attributes;
  EXPECT_FALSE(port_.Attributes(receiver, attributes));
  EXPECT_FALSE(platform::IsUsable(port_.Open(Node("hidraw9").c_str())));

  fs::remove(Node("hidraw0"));  // whatever opens the node fails
  platform::HidIdentity identity;
  ASSERT_TRUE(port_.Identify(Node("hidraw0").c_str(), identity));
  EXPECT_EQ(identity.attributes.vendorId, 0xFFFF);
  EXPECT_EQ(identity.attributes.productId, 0x0008);
  EXPECT_TRUE(identity.capsKnown);
  EXPECT_EQ(identity.caps.inputReportLength, 32);
  EXPECT_EQ(identity.caps.outputReportLength, 33);
  ASSERT_TRUE(port_.Identify(Node("hidraw1").c_str(), identity));
  EXPECT_EQ(identity.attributes.vendorId, 0x046D);
  fs::remove(root_ / "devices/usb1/1-2/1-2:1.0/hid/report_descriptor");
  ASSERT_TRUE(port_.Identify(Node("hidraw1").c_str(), identity));
  EXPECT_FALSE(identity.capsKnown);
  EXPECT_FALSE(port_.Identify(Node("hidraw10").c_str(), identity));  // no HID_ID
  EXPECT_FALSE(port_.Identify(Node("hidraw9").c_str(), identity));
}

TEST_F(HidrawTest, ReadsTakeWholeReportsThatFitAndWritesSendTheReportAsIs) {
  const platform::HidHandle handle = port_.Open(Node("hidraw0").c_str());
  ASSERT_TRUE(platform::IsUsable(handle));
  const int device = open(Node("hidraw0").c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(device, 0);
  std::array<std::uint8_t, 4096> buffer{};
  EXPECT_EQ(port_.Read(handle, buffer.data(), 4096).kind, platform::ReadOutcome::kNothingYet);
  std::array<std::uint8_t, 32> report{};
  for (std::uint8_t k = 1; k <= 3; ++k) {
    report[31] = k;
    ASSERT_EQ(write(device, report.data(), report.size()), 32);
  }
  // Room for two: two are taken, the third waits.
  const platform::ReadOutcome outcome = port_.Read(handle, buffer.data(), 64 + 31);
  EXPECT_EQ(outcome.kind, platform::ReadOutcome::kDone);
  EXPECT_EQ(outcome.bytes, 64u);
  EXPECT_EQ(buffer[63], 2);
  EXPECT_EQ(port_.Read(handle, buffer.data(), 4096).bytes, 32u);
  EXPECT_EQ(port_.Read(handle, buffer.data(), 31).kind, platform::ReadOutcome::kError);

  const std::uint8_t command[2] = {0x05, 0x01};
  ASSERT_EQ(write(device, report.data(), report.size()), 32);
  t_counting = true;
  const platform::ReadOutcome got = port_.Read(handle, buffer.data(), 4096);
  const platform::WriteOutcome wrote = port_.SetOutputReport(handle, command, 2);
  t_counting = false;
  EXPECT_EQ(t_allocations, 0);
  EXPECT_TRUE(wrote.written);
  EXPECT_EQ(got.bytes, 32u);
  std::uint8_t sent[platform::kHidrawMaxOutputReport + 1] = {};
  EXPECT_EQ(read(device, sent, sizeof sent), 2);
  EXPECT_EQ(std::memcmp(sent, command, 2), 0);
  // Longer than the bound: refused, not cut; up to it: sent whole.
  EXPECT_EQ(port_.SetOutputReport(handle, sent, sizeof sent).error,
            platform::kErrorInvalidParameter);
  EXPECT_TRUE(port_.SetOutputReport(handle, sent, sizeof sent - 1).written);
  EXPECT_EQ(read(device, sent, sizeof sent), static_cast<ssize_t>(sizeof sent - 1));
  close(device);
  port_.Close(handle);
  EXPECT_EQ(port_.Read(handle, buffer.data(), 4096).kind, platform::ReadOutcome::kError);
  EXPECT_FALSE(port_.SetOutputReport(handle, command, 2).written);
}

// Notes what a watch tells; Saw waits (at most a bounded time) for what it expects. Whatever
// fails, the watch stops before a recorder goes.
class Recorder final : public platform::InterfaceListener {
 public:
  ~Recorder() { platform::OsHidPort().WatchInterfaces(nullptr); }
  void Arrived(const char* path) override { Note("+" + std::string(path)); }
  void Removed(const char* path) override { Note("-" + std::string(path)); }

  bool Saw(const std::string& event, std::chrono::milliseconds within = std::chrono::seconds(2)) {
    return Eventually([&] { return Contains(event); }, within);
  }
  std::vector<std::string> Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(events_, {});
  }

 private:
  void Note(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  bool Contains(const std::string& event) {
    std::lock_guard lock(mutex_);
    return std::find(events_.begin(), events_.end(), event) != events_.end();
  }
  std::mutex mutex_;
  std::vector<std::string> events_;
};

TEST_F(HidrawTest, WatchTellsNodesComingGettingPermissionsAndGoingUntilStopped) {
  Recorder first, second;
  ASSERT_TRUE(port_.WatchInterfaces(&first));
  Write(root_ / "dev/ttyS0", "");
  ASSERT_EQ(mkfifo(Node("hidraw5").c_str(), 0600), 0);
  ASSERT_TRUE(first.Saw("+" + Node("hidraw5")));
  EXPECT_EQ(first.Take(), std::vector<std::string>{"+" + Node("hidraw5")});  // not ttyS0
  ASSERT_EQ(chmod(Node("hidraw5").c_str(), 0660), 0);
  EXPECT_TRUE(first.Saw("+" + Node("hidraw5")));
  fs::remove(Node("hidraw5"));
  EXPECT_TRUE(first.Saw("-" + Node("hidraw5")));

  ASSERT_TRUE(port_.WatchInterfaces(&second));
  first.Take();
  ASSERT_EQ(mkfifo(Node("hidraw6").c_str(), 0600), 0);
  EXPECT_TRUE(second.Saw("+" + Node("hidraw6")));
  EXPECT_TRUE(first.Take().empty());
  ASSERT_TRUE(port_.WatchInterfaces(nullptr));
  fs::remove(Node("hidraw6"));
  EXPECT_FALSE(second.Saw("-" + Node("hidraw6"), std::chrono::milliseconds(200)));
}

}  // namespace
}  // namespace zavn::testing
