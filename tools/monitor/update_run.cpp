#include "update_run.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "console.h"
#include "zavn/zavn.h"

namespace monitor {

using tools::OpenTerminal;
using tools::Terminal;
namespace {

constexpr int kUpdateSlot = 1;
constexpr int kBarWidth = 30;
constexpr int kMinBarWidth = 10;
// The bar line besides the bar: "update [", "] 100%  1234.5 s  " and the longest phase.
constexpr int kBarLineRest = 8 + 18 + 30;
constexpr auto kLookEvery = std::chrono::milliseconds(100);

// One look as a JSON line.
void ShowJson(std::FILE* out, int progress, double seconds) {
  std::fprintf(out, "{\"seconds\":%.2f,\"update\":{\"progress\":%d,\"phase\":\"%s\"}}\n", seconds,
               progress, UpdatePhase(progress));
  std::fflush(out);
}

// The progress bar over the line it is on. It keeps off the terminal's last column: a line that
// reaches it can wrap, and the next draw would then start on the wrapped line's second row. The
// bar narrows to fit the longest phase; what still does not fit is cut from the phase's end.
void ShowBar(Terminal& terminal, int progress, double seconds) {
  const int room = terminal.Size().columns - 1;
  const int width = std::clamp(room - kBarLineRest, kMinBarWidth, kBarWidth);
  const int filled = std::min(progress, 100) * width / 100;
  char numbers[32];
  std::snprintf(numbers, sizeof numbers, "] %3d%%  %6.1f s  ", progress, seconds);
  std::string line = "update [" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(width - filled), '-') + numbers +
                     UpdatePhase(progress);
  line.resize(std::min(line.size(), static_cast<std::size_t>(std::max(room, 0))));
  terminal.Write("\r");
  terminal.ClearLine();
  terminal.Write(line);
  terminal.Flush();
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
  const std::unique_ptr<Terminal> terminal = display.json ? nullptr : OpenTerminal(display.out);
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
    if (terminal) {
      ShowBar(*terminal, progress, seconds);  // each look: the seconds go on
    } else if (progress != shown) {
      ShowJson(display.out, progress, seconds);
    }
    shown = progress;
    if (progress < ZAVN_UPDATE_DONE) std::this_thread::sleep_for(kLookEvery);
  }
  ZAVNBootLoaderFSM(kUpdateSlot, ZAVN_UPDATE_STOP);
  if (terminal) {  // the last bar stays
    terminal->Write("\n");
    terminal->Flush();
  }
  return progress >= ZAVN_UPDATE_DONE;
}

}  // namespace monitor
