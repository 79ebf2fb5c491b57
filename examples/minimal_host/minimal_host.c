/*
 * A minimal host: connect to the receiver, let it stream for two seconds, read each player's
 * status, disconnect. It uses the virtual receiver (two transmitters), so it runs anywhere;
 * leave out the four ZAVNVirtual calls to use a real receiver.
 *
 *   minimal_host [GAME]   with a game number, also selects that game of "NoltaUT.ini" beside
 *                         the program, whose plug-in then receives player 1's records
 */
#include <stdio.h>
#include <stdlib.h>

#include "zavn/zavn.h"
#include "zavn/zavn_virtual.h"

#if defined(_WIN32)
#include <windows.h>
static void Pause(unsigned ms) {
  Sleep(ms);
}
#else
#include <time.h>
static void Pause(unsigned ms) {
  struct timespec t = {(time_t)(ms / 1000u), (long)(ms % 1000u) * 1000000L};
  nanosleep(&t, NULL);
}
#endif

static PlayerStatus status; /* 87 KB: not on the stack */

int main(int argc, char** argv) {
  ZAVNVirtualSelect(1);
  ZAVNVirtualClear();
  if (ZAVNVirtualPlugReceiver(2, 100) == 0) return 1;

  ZAVNInit();
  ZAVNReset();
  ZAVNConnectRx();
  ZAVNRoutineFunc();
  ZAVNSwitchHotplug(1); /* from now on: receivers plugged in are connected, pulled ones dropped */
  if (ZAVNGetRxStatus(1) != LINK_OK) {
    fprintf(stderr, "minimal_host: no receiver\n");
    return 1;
  }
  if (argc > 1) {
    const int32_t modes[4] = {0, 0, 0, 0};
    ZAVNSelectGameChannel(atoi(argv[1]), modes, 0);
  }

  Pause(2000);
  for (int32_t player = 1; player <= 4; ++player) {
    if (ZAVNGetRxStatus(player) != LINK_OK) continue;
    ZAVNGetStatus(player, &status); /* hands over the samples since the last call */
    /* None while the poll thread decodes this player's record or calls the game's plug-in with
       it (which may take longer than a record's interval): they come with a later snapshot. */
    for (int tries = 0; status.MotionCount == 0 && tries < 50; ++tries) {
      Pause(10);
      ZAVNGetStatus(player, &status);
    }
    printf("player %d: %d new samples, motion %d %d %d %d %d %d, %d records\n", player,
           status.MotionCount, status.Motion[0], status.Motion[1], status.Motion[2],
           status.Motion[3], status.Motion[4], status.Motion[5], status.RecordCount);
  }

  ZAVNClearGameChannel();
  Pause(100); /* the plug-in's goodbye comes with the next record */
  for (int32_t player = 1; player <= 4; ++player) ZAVNDisconnectRx(player);
  ZAVNTerminate(0);
  ZAVNVirtualClear();
  return 0;
}
