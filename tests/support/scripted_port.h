// A HidPort whose interfaces a test lists one by one, for what the virtual receiver cannot
// show: paths too long for a path buffer, null handles, which interface indices are asked,
// arbitrary bytes as the product string, and a receiver met through another port than it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/hid_port.h"

namespace zavn::testing {

class ScriptedPort final : public platform::HidPort {
 public:
  struct Entry {
    platform::PathResult result = platform::PathResult::kFound;
    std::string path;
    platform::HidAttributes attributes;
    platform::HidCaps caps;
    platform::HidHandle handle = 0;  // what Open returns for the path
  };

  void Add(Entry entry) { entries_.push_back(std::move(entry)); }

  // What ProductString hands over, as much as the caller asks for; none while empty.
  std::vector<std::uint8_t> product;
  std::uint32_t highestIndexAsked = 0;
  int listings = 0;  // InterfacePaths calls
  int opens = 0;
  int closes = 0;
  std::vector<std::vector<std::uint8_t>> written;  // every output report, as sent

  platform::PathResult InterfacePath(std::uint32_t n,
                                     char (&path)[platform::kDevicePathSize]) override {
    if (n > highestIndexAsked) highestIndexAsked = n;
    if (n >= entries_.size()) return platform::PathResult::kEnd;
    const Entry& entry = entries_[n];
    if (entry.result == platform::PathResult::kFound) {
      std::strncpy(path, entry.path.c_str(), sizeof path - 1);
      path[sizeof path - 1] = '\0';
    }
    return entry.result;
  }
  std::vector<std::string> InterfacePaths(std::uint32_t maxInterfaces) override {
    ++listings;
    return HidPort::InterfacePaths(maxInterfaces);
  }
  // As the OS backends do: from the listing, without opening the interface.
  bool Identify(const char* path, platform::HidIdentity& out) override {
    const Entry* entry = Find(path);
    if (entry == nullptr) return false;
    out = {entry->attributes, entry->caps, true};
    return true;
  }
  platform::HidHandle Open(const char* path) override {
    const Entry* entry = Find(path);
    if (entry == nullptr) return platform::kInvalidHidHandle;
    ++opens;
    return entry->handle;
  }
  void Close(platform::HidHandle) override { ++closes; }
  bool Attributes(platform::HidHandle handle, platform::HidAttributes& out) override {
    const Entry* entry = Find(nullptr, handle);
    if (entry != nullptr) out = entry->attributes;
    return entry != nullptr;
  }
  bool Capabilities(platform::HidHandle handle, platform::HidCaps& out) override {
    const Entry* entry = Find(nullptr, handle);
    if (entry != nullptr) out = entry->caps;
    return entry != nullptr;
  }
  bool NumInputBuffers(platform::HidHandle, std::uint32_t&) override { return false; }
  bool SetNumInputBuffers(platform::HidHandle, std::uint32_t) override { return false; }
  bool ProductString(platform::HidHandle, void* buffer, std::uint32_t bytes) override {
    if (product.empty()) return false;
    std::memcpy(buffer, product.data(), std::min<std::size_t>(product.size(), bytes));
    return true;
  }
  platform::ReadOutcome Read(platform::HidHandle, std::uint8_t*, std::uint32_t) override {
    return {platform::ReadOutcome::kNothingYet, 0};
  }
  platform::WriteOutcome SetOutputReport(platform::HidHandle, const std::uint8_t* report,
                                         std::uint32_t length) override {
    written.emplace_back(report, report + length);
    return {true, 0};
  }

 private:
  // The listed interface with that path, or else with that handle.
  const Entry* Find(const char* path, platform::HidHandle handle = 0) const {
    for (const Entry& entry : entries_) {
      if (entry.result == platform::PathResult::kFound &&
          (path != nullptr ? entry.path == path : entry.handle == handle))
        return &entry;
    }
    return nullptr;
  }

  std::vector<Entry> entries_;
};

}  // namespace zavn::testing
