/*
 * zavn_demo: a small host on the virtual receiver. It plugs a receiver, connects, lets the
 * receiver stream, fall silent and be unplugged, and prints each slot's link states as they
 * change.
 */
#include <stdio.h>
#include <string.h>

#include "zavn/zavn.h"
#include "zavn/zavn_virtual.h"

#if defined(_WIN32)
#include <windows.h>
static void SleepMilliseconds(unsigned ms) {
  Sleep(ms);
}
#else
#include <time.h>
static void SleepMilliseconds(unsigned ms) {
  struct timespec t = {(time_t)(ms / 1000u), (long)(ms % 1000u) * 1000000L};
  nanosleep(&t, NULL);
}
#endif

enum { kReportLength = 32, kStepMs = 10 };

static const char* LinkName(int32_t state) {
  switch (state) {
    case LINK_RESET_DONE:
      return "LINK_RESET_DONE";
    case LINK_NOT_RESET:
      return "LINK_NOT_RESET";
    case LINK_OK:
      return "LINK_OK";
    case LINK_NO_DEVICE:
      return "LINK_NO_DEVICE";
    case LINK_READ_ERROR:
      return "LINK_READ_ERROR";
    case LINK_TIMEOUT:
      return "LINK_TIMEOUT";
    default:
      return "(none)";
  }
}

static int32_t shownRx[4], shownTx[4];

static void ShowChanges(unsigned elapsedMs) {
  for (int32_t player = 1; player <= 4; ++player) {
    const int32_t rx = ZAVNGetRxStatus(player), tx = ZAVNGetTxStatus(player);
    if (rx == shownRx[player - 1] && tx == shownTx[player - 1]) continue;
    shownRx[player - 1] = rx;
    shownTx[player - 1] = tx;
    printf("%6u ms  player %d  Rx %-15s Tx %s\n", elapsedMs, player, LinkName(rx), LinkName(tx));
  }
}

/* Runs for `ms`, queueing one report every 10 ms when `streaming`. */
static unsigned Run(int32_t receiver, int streaming, unsigned startMs, unsigned ms) {
  unsigned char report[kReportLength];
  memset(report, 0, sizeof report);
  report[0] = 0x02;
  report[3] = 'A';
  for (unsigned t = 0; t < ms; t += kStepMs) {
    if (streaming) ZAVNVirtualQueueInput(receiver, report, kReportLength);
    SleepMilliseconds(kStepMs);
    ShowChanges(startMs + t + kStepMs);
  }
  return startMs + ms;
}

int main(void) {
  ZAVNVirtualSelect(1);
  ZAVNVirtualClear();
  ZAVNVirtualPlug(0xFFFF, 0x0008, 4, 0, "NOLTADongle"); /* the receiver's unused interfaces */
  ZAVNVirtualPlug(0xFFFF, 0x0008, 14, 0, "NOLTADongle");
  const int32_t receiver = ZAVNVirtualPlug(0xFFFF, 0x0008, kReportLength, 33, "NOLTADongle");
  if (receiver == 0) {
    fprintf(stderr, "zavn_demo: could not plug a virtual receiver\n");
    return 1;
  }
  printf("Virtual receiver plugged (interface %d); connecting.\n", receiver);

  ZAVNInit();
  printf("ZAVNReset -> %s\n", LinkName(ZAVNReset()));
  ZAVNConnectRx();
  ZAVNRoutineFunc();
  ShowChanges(0);

  printf("-- streaming reports\n");
  unsigned now = Run(receiver, 1, 0, 1000);
  printf("-- receiver silent\n");
  now = Run(receiver, 0, now, 1000);
  printf("-- receiver unplugged\n");
  ZAVNVirtualUnplug(receiver);
  now = Run(receiver, 0, now, 200);

  for (int32_t player = 1; player <= 4; ++player) ZAVNDisconnectRx(player);
  printf("ZAVNTerminate(0) -> %d\n", ZAVNTerminate(0));
  ZAVNVirtualClear();
  return 0;
}
