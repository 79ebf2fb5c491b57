#include "update_run.h"

#include <chrono>
#include <string>
#include <thread>

#include "zavn/zavn.h"

namespace monitor {
namespace {

constexpr int kUpdateSlot = 1;
constexpr int kBarWidth = 30;
constexpr auto kLookEvery = std::chrono::milliseconds(100);

void Show(const UpdateDisplay& display, int progress, double seconds) {
  if (display.json) {
    std::fprintf(display.out, "{\"seconds\":%.2f,\"update\":{\"progress\":%d,\"phase\":\"%s\"}}\n",
                 seconds, progress, UpdatePhase(progress));
  } else {
    const int filled = (progress > 100 ? 100 : progress) * kBarWidth / 100;
    std::fprintf(display.out, "%supdate [%s%s] %3d%%  %-30s %6.1f s%s",
                 display.terminal ? "\r" : "",
                 std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(kBarWidth - filled), '-').c_str(), progress,
                 UpdatePhase(progress), seconds, display.terminal ? "\x1b[K" : "\n");
  }
  std::fflush(display.out);
}

}  // namespace

const char* UpdatePhase(int progress) {
  if (progress >= ZAVN_UPDATE_DONE) return "done";
  if (progress >= ZAVN_UPDATE_SERIAL_WRITTEN) return "serial number written back";
  if (progress >= ZAVN_UPDATE_WRITING_SERIAL) return "writing the serial number back";
  if (progress >= ZAVN_UPDATE_BOOT_FINISHED) return "boot loader finished";
  if (progress >= ZAVN_UPDATE_CHECKSUM_SENT) return "checking the image";
  if (progress > ZAVN_UPDATE_BOOT_STEP2) return "sending the HEX image";
  if (progress >= ZAVN_UPDATE_BOOT_STARTED) return "starting the boot loader";
  if (progress >= ZAVN_UPDATE_SENDING_TABLE_IMAGE) return "sending the table image";
  if (progress >= ZAVN_UPDATE_ERASED) return "erased, restarting";
  if (progress >= ZAVN_UPDATE_SERIAL_READ) return "serial number read, erasing";
  if (progress >= ZAVN_UPDATE_READING_SERIAL) return "reading the serial number";
  if (progress >= ZAVN_UPDATE_IDENTIFIED) return "identifying the receiver";
  return "waiting for the receiver";
}

const char* UpdateRefusal(const ReceiverLink& link) {
  if (link.IsVirtual() || ZAVNFirmwareImagesArePlaceholders() == 0) return nullptr;
  return "will not update a real receiver: this build carries placeholder firmware images "
         "(build with ZAVN_FIRMWARE_HEX and ZAVN_FIRMWARE_REPORT_TABLE for real ones, or update "
         "the virtual receiver with --virtual N)";
}

bool RunUpdate(ReceiverLink& link, const UpdateDisplay& display, double limitSeconds,
               const std::atomic<bool>& interrupted, std::vector<UpdateLook>& looks) {
  const auto start = Clock::now();
  ZAVNBootLoaderFSM(kUpdateSlot, ZAVN_UPDATE_RUN);
  int shown = -1;
  int progress = 0;
  double seconds = 0;
  // The receiver drops off and comes back under each new firmware: the hotplug reconnects it, or
  // Keep does where the system cannot report arrivals.
  while (progress < ZAVN_UPDATE_DONE && !interrupted && seconds < limitSeconds) {
    link.Keep(kUpdateSlot);
    progress = ZAVNGetBootloaderStatus(kUpdateSlot);
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    looks.push_back({seconds, progress});
    if (progress != shown || display.terminal) Show(display, progress, seconds);
    shown = progress;
    if (progress < ZAVN_UPDATE_DONE) std::this_thread::sleep_for(kLookEvery);
  }
  ZAVNBootLoaderFSM(kUpdateSlot, ZAVN_UPDATE_STOP);
  if (display.terminal) std::fputs("\n", display.out);
  return progress >= ZAVN_UPDATE_DONE;
}

}  // namespace monitor
