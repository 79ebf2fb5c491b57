/*
 * The virtual receiver: a software model of the receiver dongle's HID interfaces, shipped in
 * the library so that hosts and tests run without the hardware. Selected at load when the
 * environment variable ZAVN_VIRTUAL_RX is set to a non-empty value other than "0", or with
 * ZAVNVirtualSelect. A value other than "0" and "1" names a capture file that the virtual receiver
 * then plays back (ZAVNVirtualPlugReplay at the captured timing, once); a file it cannot play is
 * said on standard error. Every function here is thread-safe.
 */
#ifndef ZAVN_VIRTUAL_H
#define ZAVN_VIRTUAL_H

#include "zavn_defs.h"

ZAVN_EXTERN_C_BEGIN

/* Faults that ZAVNVirtualSetFaults injects, as a bit set. */
#define ZAVN_VIRTUAL_FAULT_OPEN 1
#define ZAVN_VIRTUAL_FAULT_ATTRIBUTES 2
#define ZAVN_VIRTUAL_FAULT_CAPABILITIES 4
#define ZAVN_VIRTUAL_FAULT_READ 8
#define ZAVN_VIRTUAL_FAULT_WRITE 16
#define ZAVN_VIRTUAL_FAULT_PRODUCT 32

/* Interfaces the virtual receiver holds at once, and the largest report lengths it takes. */
#define ZAVN_VIRTUAL_MAX_INTERFACES 32
#define ZAVN_VIRTUAL_MAX_REPORT_LENGTH 1024
/* Input reports held per interface (the oldest is dropped when full) until the library asks for
   another depth, as the Windows HID driver's default; the library asks for 512 when it opens an
   interface. Output reports kept. */
#define ZAVN_VIRTUAL_INPUT_QUEUE 32
#define ZAVN_VIRTUAL_OUTPUT_LOG 4096

/* 1: discovery and every HID call go to the virtual receiver; 0: to the OS HID stack.
   Returns the previous setting. Meant to be called while no slot is open. */
ZAVN_API int32_t ZAVN_CALL ZAVNVirtualSelect(int32_t on);

/* Unplugs and forgets every virtual interface. */
ZAVN_API void ZAVN_CALL ZAVNVirtualClear(void);

/* Plugs one HID interface at the end of the enumeration order. product is ASCII (at most
   126 characters); null makes the product-string query fail. The input report length is 1
   to ZAVN_VIRTUAL_MAX_REPORT_LENGTH, the output report length 0 (no output reports) to
   ZAVN_VIRTUAL_MAX_REPORT_LENGTH. Returns its id (>= 1), or 0 when there is no room or an
   argument is out of range. */
ZAVN_API int32_t ZAVN_CALL ZAVNVirtualPlug(int32_t vendorId, int32_t productId,
                                           int32_t inputReportLength, int32_t outputReportLength,
                                           const char* product);

/* Plugs a whole receiver: an interface of 4-byte and one of 14-byte input reports (which carry no
   data), then `transmitters` (1..4) data interfaces (0xFFFF/0x0008, 32-byte input reports,
   product "NOLTADongle"). Each data interface streams motion records at rateHz (1..1000), produced
   when the library reads, from the library's clock: a transmitter's motion as its sensors read
   it (see ZAVNVirtualSetMotion) with occasional button presses. Each record carries its sample
   number (from 0), big-endian, in report bytes 16..19, which the library hands on as
   RawRecord[16..19]. Returns the id of the first data interface (the others follow in order), or 0
   when there is no room or an argument is out of range. */
ZAVN_API int32_t ZAVN_CALL ZAVNVirtualPlugReceiver(int32_t transmitters, int32_t rateHz);

/* Speeds of ZAVNVirtualPlugReplay, in percent of the captured timing: 100 plays each report at
   the time it was captured (relative to the first), 200 twice as fast, 50 at half speed;
   ZAVN_REPLAY_AS_READ hands the library a full queue of reports at every read. */
#define ZAVN_REPLAY_AS_READ 0
#define ZAVN_REPLAY_CAPTURED_TIMING 100
#define ZAVN_REPLAY_MAX_SPEED 100000

/* Plugs a receiver that plays a capture back: the two interfaces that carry no data, then one
   data interface (0xFFFF/0x0008, product "NOLTADongle", the captured input report length) per
   receiver data interface found in the file, at most 4, in the order of their device addresses.
   Each plays the input reports captured from it, from the library's first read of any of them
   on, at speedPercent (see above), once or, with loop 1, over and over. The interfaces queue and
   drop reports as the others do, keep the output reports the library writes (they are not
   answered: a capture holds its receiver's answers) and can be unplugged and replugged.
   The file is a pcap or pcapng capture of USB traffic: the library's own (ZAVNStartCapture), or
   one made with Wireshark or tshark of usbmon on Linux (link types 220 and 189) or of USBPcap on
   Windows (249). A receiver's data interfaces are told by the capture's device and configuration
   descriptors where it holds them, else by their reports' length and record letters. A file
   that ends inside its last block, as a capture cut short, plays what comes before.
   Returns the id of the first data interface (the others follow in order), or 0 when the file
   cannot be played or there is no room; then, when errorCapacity > 0, error receives a message
   naming the file and why (at most errorCapacity bytes with its NUL). */
ZAVN_API int32_t ZAVN_CALL ZAVNVirtualPlugReplay(const char* file, int32_t speedPercent,
                                                 int32_t loop, char* error, int32_t errorCapacity);

/* Removes the interface from the enumeration; reads and writes on handles already open to it
   fail. Returns 1, or 0 for an unknown id. */
ZAVN_API int32_t ZAVN_CALL ZAVNVirtualUnplug(int32_t id);

/* Plugs an unplugged interface back, as the device comes back when it is plugged in again: under
   a new path, its handles from before dead. A data interface of ZAVNVirtualPlugReceiver comes
   back with the firmware it was running (or was about to start), as a real receiver would: pulled
   in its boot loader it comes back in its boot loader, having lost an unfinished image; its
   transmitter's records of the time away are lost. Returns 1, or 0 for an unknown id or one that
   is plugged. */
ZAVN_API int32_t ZAVN_CALL ZAVNVirtualReplug(int32_t id);

/* Queues one input report (report ID first) of exactly the interface's input report length.
   Returns 1, or 0 for an unknown or unplugged id, a null report or another length. */
ZAVN_API int32_t ZAVN_CALL ZAVNVirtualQueueInput(int32_t id, const unsigned char* report,
                                                 int32_t length);

/* Takes the oldest output report written to the interface: returns its length (as written by
   the library) and copies at most capacity bytes of it; 0 when none; -1 for an unknown id. */
ZAVN_API int32_t ZAVN_CALL ZAVNVirtualTakeOutput(int32_t id, unsigned char* buffer,
                                                 int32_t capacity);

/* Changes the product string (null: the query fails). Returns 1, or 0 for an unknown id or a
   string longer than 126 characters. */
ZAVN_API int32_t ZAVN_CALL ZAVNVirtualSetProduct(int32_t id, const char* product);

/* Sets the bit set of injected faults (ZAVN_VIRTUAL_FAULT_*). Returns 1, or 0 for an unknown id. */
ZAVN_API int32_t ZAVN_CALL ZAVNVirtualSetFaults(int32_t id, int32_t faults);

/* What a transmitter of ZAVNVirtualPlugReceiver keeps of the host's commands, and its identity.
   Its data interface answers as a receiver would, with input reports that the next read takes:
   a serial-number query with a serial-number record of `serial`; serial-number data of
   sub-command 2 replaces `serial`; a version-number report with a version record of `version`
   (operation 1 first writes the report's 12 bytes into it); an account-data report stores its 25
   digits in the page its first control byte selects (0x00..0x0F, or '0'..'7' for pages 0..7) and
   answers with an account-data record of that page and status 1 (status 0 and no page stored
   for any other selector). */
#define ZAVN_VIRTUAL_VERSION_WRITE 1
typedef struct ZAVNVirtualTransmitterState {
  uint8_t modes[6];     /* last values of the switches 01..06 (browser .. G-sensitivity) */
  uint8_t playerNumber; /* of the 4-byte report 04 */
  uint8_t antenna;      /* of the 4-byte report 06 */
  uint8_t motor[8];     /* the last motor bytes; the erase form is kept as sent */
  uint8_t keyboardMouse[12];
  uint8_t joystick[15];
  uint8_t appInfo[2];
  uint16_t screenWidth, screenHeight, mouseX, mouseY;
  uint8_t serial[16];
  uint8_t version[12];
  uint8_t accountPages[16][25];
  uint32_t reportsReceived; /* output reports the interface accepted */
} ZAVNVirtualTransmitterState;

/* Copies the state of the transmitter behind data interface id into *out. Returns 1, or 0 for an
   id that is not a data interface of ZAVNVirtualPlugReceiver or a null out. */
ZAVN_API int32_t ZAVN_CALL ZAVNVirtualGetTransmitter(int32_t id, ZAVNVirtualTransmitterState* out);

/* The motion of the transmitter behind data interface id of ZAVNVirtualPlugReceiver, from its
   next record on. By default each transmitter follows a path of its own: yaw swinging +-60
   degrees (the first transmitter's every 8 s), pitch +-25 and roll +-20 on slow sines of their own,
   faster and in another phase for each further player. Its six motion values are the counts of the
   default sensor profile (see zavn_motion.h): Motion[0..2] acceleration along x, y, z at 8192
   counts per g (16384, 8192, 4096, 2048 after ZAVNSwitchGSensitivity 0, 1, 2, 3), Motion[3..5]
   rotation about x, y, z at 16.384 counts per degree per second, each from 32768, rounded to
   nearest and clamped to 0..65535. The accelerometer reads gravity's reaction (+1 g up when
   still) in the controller's frame, the gyro the rotation rate in that frame: integrated, it
   follows the path. Each value carries white noise (0.004 g and 0.05 deg/s RMS), the same in
   every run.
   SetMotion has it read accelG (x, y, z in g) and gyroDps (x, y, z in deg/s) instead of its
   path, a held rotation leaving the held gravity where it is; a null pointer goes back to the
   path. SetGyroBias adds biasDps (x, y, z) to its rotation rate; null: none. SetSensorErrors
   multiplies the value of each Motion channel k (0..5) by scale[k] (1: exact) and adds
   zeroCounts[k] counts to its zero; null: none. Each returns 1, or 0 for another id or a value
   that is not finite (then nothing changes). */
ZAVN_API int32_t ZAVN_CALL ZAVNVirtualSetMotion(int32_t id, const float* accelG,
                                                const float* gyroDps);
ZAVN_API int32_t ZAVN_CALL ZAVNVirtualSetGyroBias(int32_t id, const float* biasDps);
ZAVN_API int32_t ZAVN_CALL ZAVNVirtualSetSensorErrors(int32_t id, const float* scale,
                                                      const int32_t* zeroCounts);

/* The number of handles the library holds open on virtual interfaces, plugged or unplugged: 0
   once every slot is closed, so a host or test can check that nothing leaks. */
ZAVN_API int32_t ZAVN_CALL ZAVNVirtualOpenHandles(void);

ZAVN_EXTERN_C_END

#endif /* ZAVN_VIRTUAL_H */
