/*
 * ZAVN_Main: the host interface of the wireless motion-controller receiver.
 *
 * Calling order: ZAVNInit once; the callback registrations; ZAVNReset; ZAVNConnectRx;
 * ZAVNRoutineFunc; then status queries and commands; ZAVNDisconnectRx for each player;
 * ZAVNTerminate(0) last. No call waits for the receiver: link states are polled with
 * ZAVNGetRxStatus and ZAVNGetTxStatus.
 *
 * Threads: the library runs one worker thread of its own, the poll thread, which reads the
 * receiver every 10 ms and calls the raw-data callback and game plug-ins. Every function here
 * may be called from any host thread at any time; ZAVNConnectRx, ZAVNReset and ZAVNTerminate
 * are serialised against each other, and ZAVNReset and ZAVNTerminate wait for the poll thread
 * to end. Players are numbered 1 to 4 (the receiver's slots); other numbers are refused or, where
 * a function says so, answered for player 1.
 * The reports the poll thread sends (its own, and those of commands called from the callbacks and
 * plug-ins it runs) are written, in order, by a writer thread of the library's, so that no read
 * waits behind a write; a command called there that reports whether its report was written
 * reports whether it was queued. ZAVNReset and ZAVNTerminate write what is queued before they
 * return.
 */
#ifndef ZAVN_H
#define ZAVN_H

#include "zavn_commands.h"
#include "zavn_defs.h"
#include "zavn_firmware.h"
#include "zavn_motion.h"
#include "zavn_status.h"

ZAVN_EXTERN_C_BEGIN

/* Link states, as returned by ZAVNReset, ZAVNGetRxStatus and ZAVNGetTxStatus. */
typedef enum ZAVNLinkState {
  LINK_RESET_DONE = 3, /* ZAVNReset has run */
  LINK_NOT_RESET = 4,  /* ZAVNReset has not run */
  LINK_OK = 5,         /* slot open; reports arrive, or have been missing for at most 500 ms */
  LINK_NO_DEVICE = 6,  /* no interface in the slot, none found, or the link was lost */
  LINK_READ_ERROR = 7, /* the last read failed */
  LINK_TIMEOUT = 8     /* no report for more than 500 ms */
} ZAVNLinkState;

/* Bytes that ZAVNGetProductString may write: a UTF-16LE string as the HID driver gives it. */
#define ZAVN_PRODUCT_STRING_BYTES 255

/* Registers device-change notifications for the host's active window; returns the
   notification handle, or null when registration failed. */
ZAVN_API void* ZAVN_CALL ZAVNInit(void);

/* Closes every slot and puts all state to its defaults; returns LINK_RESET_DONE. */
ZAVN_API int32_t ZAVN_CALL ZAVNReset(void);

/* Opens the receiver's data interfaces into the four slots and starts the poll thread.
   The outcome per slot is read afterwards with ZAVNGetRxStatus. */
ZAVN_API void ZAVN_CALL ZAVNConnectRx(void);

/* Switches polling on for all four slots; returns 1. */
ZAVN_API int32_t ZAVN_CALL ZAVNRoutineFunc(void);

/* on 1: the library follows the receiver's arrivals and removals itself, from the system's
   notifications (Linux: the kernel's hidraw nodes; Windows: the HID interface notifications; the
   virtual receiver: its plugs and unplugs). Switching it on connects what is present, as
   ZAVNConnectRx with ZAVNRoutineFunc would; from then on, on a thread of the library's own (never
   the poll thread), a receiver interface that arrives is connected and polled within a few
   milliseconds, and one that is removed is given up at once (its player's link becomes
   LINK_NO_DEVICE). The arrival of any other device starts no search. Call it after ZAVNReset;
   ZAVNReset and ZAVNTerminate switch it off, as does on 0 (do so before unloading the library:
   its thread runs the library's code). Off by default.
   Returns 1 while it follows them, 0 when off or when the system cannot report them. */
ZAVN_API int32_t ZAVN_CALL ZAVNSwitchHotplug(int32_t on);

/* Starts writing every input report read from a slot and every output report written to one,
   with its time, to `file` as a pcapng capture that Wireshark and tshark show as USB traffic
   (Linux usbmon packets: input reports as interrupt-IN completions, output reports as
   interrupt-OUT submissions, slot 1..4 as device address 1..4). A capture under way ends
   first. Recording costs the poll thread a copy of each report; a thread of the library's own
   writes the file, flushed every few ms. Setting ZAVN_CAPTURE=FILE in the environment starts one
   at the first ZAVNInit or ZAVNConnectRx, unless the host's own capture runs by then. Returns
   1 when the capture runs, 0 when the file cannot be created. */
ZAVN_API int32_t ZAVN_CALL ZAVNStartCapture(const char* file);

/* Ends the capture under way once everything it recorded is in the file, and closes the file
   (ZAVNTerminate does too; do either before unloading the library: its thread runs the
   library's code). A read or write still under way when it is called is not recorded, though
   its reports still reach the host and the receiver. The file plays back through the virtual
   receiver (ZAVNVirtualPlugReplay in zavn_virtual.h). Returns how many reports the file lacks
   because the disk could not keep up or could not take them (full, or a share lost; 0 normally;
   the file's statistics block says so too, once there is room for it), or -1 when no capture
   was under way. */
ZAVN_API int32_t ZAVN_CALL ZAVNStopCapture(void);

/* Closes the slot of player 1..4; other values are ignored. */
ZAVN_API void ZAVN_CALL ZAVNDisconnectRx(int32_t playerIndex);

/* Unregisters the notification and ends the poll thread, waiting for it. The host passes 0.
   Returns non-zero when the thread's handle was closed, 0 when there was none to close. */
ZAVN_API int32_t ZAVN_CALL ZAVNTerminate(int32_t run);

/* Copies the HID product string of player 1..4's interface into buffer (at least
   ZAVN_PRODUCT_STRING_BYTES bytes). Returns 1 on success, 0 on failure. */
ZAVN_API int32_t ZAVN_CALL ZAVNGetProductString(int32_t playerIndex, void* buffer);

/* Link state of the slot of player 1..4 (any other value answers for player 1). */
ZAVN_API int32_t ZAVN_CALL ZAVNGetRxStatus(int32_t playerIndex);

/* Result of the slot's last read (LINK_OK, LINK_NO_DEVICE, LINK_READ_ERROR, LINK_TIMEOUT). */
ZAVN_API int32_t ZAVN_CALL ZAVNGetTxStatus(int32_t playerIndex);

/* Copies player 1..4's decoded status into *out (a whole record). The sample histories and their
   counts are handed over and emptied in the library: each sample is delivered by exactly one
   snapshot. Any other player value is served from player 1, without the secondary fields. Fields
   that are not copied (SecondaryRecordCount, BootBlock[0..1], RawRecord, the padding) keep what
   the caller's record held; so does the history part until a first decode after ZAVNReset.
   A null out does nothing. */
ZAVN_API void ZAVN_CALL ZAVNGetStatus(int32_t playerIndex, PlayerStatus* out);

/* Records per second of each player: rates[p - 1] points at four words that receive counted
   records/s, secondary motion records/s, 0, 0. A null array or entry is skipped. Returns 1. */
ZAVN_API int32_t ZAVN_CALL ZAVNGetRawdataFPS(int32_t unused, uint32_t** rates);

/* The joystick-loop flag of the periodic output report; a change restarts its clock. Returns 1. */
ZAVN_API int32_t ZAVN_CALL ZAVNTurnONJoystickAPILoop(uint32_t on);

/* Called on the poll thread after every motion record with kind 1 and the library's own, live
   record of the player (valid during the call only). It may call ZAVNGetStatus, which then hands
   over no history until the decode under way has finished. */
typedef void(ZAVN_CALL* ZAVNRawDataCallback)(int32_t kind, PlayerStatus* status);
/* Stored for hosts that register them; the library never calls them. */
typedef void(ZAVN_CALL* ZAVNFingerCallback)(void);
typedef void(ZAVN_CALL* ZAVNScrResolCallback)(void);

/* Registrations; null switches a callback off. They take effect from the next record on. */
ZAVN_API void ZAVN_CALL ZAVNInitGetRawDataCallBack(ZAVNRawDataCallback callback);
ZAVN_API void ZAVN_CALL ZAVNInitGetFingerCallBack(ZAVNFingerCallback callback);
ZAVN_API void ZAVN_CALL ZAVNInitSendScrResolMSXYPosCallBack(ZAVNScrResolCallback callback);

ZAVN_EXTERN_C_END

#endif /* ZAVN_H */
