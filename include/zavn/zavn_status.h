/*
 * PlayerStatus: the decoded state of one player, as ZAVNGetStatus copies it out and as the raw-data
 * callback and game plug-ins are handed it. The byte layout is fixed (87032 bytes, little-endian,
 * every 32-bit field on a 4-byte boundary); the assertions at the end hold it in every build.
 *
 * History rings hold ZAVN_HISTORY_LENGTH samples per channel: MotionHistory[channel][position].
 * After a snapshot, positions 0 .. MotionCount-1 hold the samples decoded since the previous one,
 * oldest first.
 */
#ifndef ZAVN_STATUS_H
#define ZAVN_STATUS_H

#include <stddef.h>

#include "zavn_defs.h"

#define ZAVN_HISTORY_LENGTH 1024
#define ZAVN_MOTION_CHANNELS 6
#define ZAVN_EXTENSION_CHANNELS 3
#define ZAVN_ACCOUNT_PAGES 16
#define ZAVN_ACCOUNT_PAGE_BYTES 25
#define ZAVN_BUTTON_COUNT 23
#define ZAVN_RAW_RECORD_BYTES 64

typedef struct PlayerStatus {
  int32_t Motion[ZAVN_MOTION_CHANNELS]; /* latest motion values (unsigned 16-bit, widened) */
  int32_t MotionHistory[ZAVN_MOTION_CHANNELS][ZAVN_HISTORY_LENGTH];
  int32_t MotionCount;    /* samples in MotionHistory since the last snapshot */
  int32_t SecondaryCount; /* the same for SecondaryHistory (player 1 only) */
  uint8_t AccountPages[ZAVN_ACCOUNT_PAGES][ZAVN_ACCOUNT_PAGE_BYTES];
  int32_t ReservedA[3];
  int32_t ReservedAHistory[3][ZAVN_HISTORY_LENGTH];
  int32_t Extension[ZAVN_EXTENSION_CHANNELS]; /* latest extension triple */
  int32_t ExtensionHistory[ZAVN_EXTENSION_CHANNELS][ZAVN_HISTORY_LENGTH]; /* motion positions */
  int32_t ReservedB[3];
  int32_t ReservedBHistory[3][ZAVN_HISTORY_LENGTH];
  int32_t SecondaryMotion[ZAVN_MOTION_CHANNELS]; /* player 1 only */
  int32_t SecondaryHistory[ZAVN_MOTION_CHANNELS][ZAVN_HISTORY_LENGTH];
  int32_t ReservedC[11];
  int32_t RecordCount;          /* counted records, 0..10000 */
  int32_t SecondaryRecordCount; /* secondary motion records, 0..10000; not copied out */
  uint8_t SerialBlock[16];      /* serial-number reply */
  uint8_t VersionBlock[12];     /* version reply */
  int32_t AccountStatus;        /* status byte of the last account-data reply */
  int32_t ReservedD[5];
  uint8_t BootBlock[12]; /* boot loader record; bytes 2..11 are copied out */
  uint8_t ReservedE[255];
  uint8_t ExtensionBytes[2];
  uint8_t ExtensionFlags[4]; /* each 0 or 1 */
  uint8_t ReservedF[2];
  uint8_t Padding1;
  int32_t ReservedG[5];
  float ReservedFloat[6];
  uint8_t ButtonBytes[12];
  uint8_t Buttons[ZAVN_BUTTON_COUNT];       /* one flag (0 or 1) per button bit */
  uint8_t RawRecord[ZAVN_RAW_RECORD_BYTES]; /* 02 31 03, then the last motion report */
  uint8_t Padding2;
} PlayerStatus;

#ifdef __cplusplus
#define ZAVN_STATIC_ASSERT(condition, message) static_assert(condition, message)
#else
#define ZAVN_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif
#define ZAVN_ASSERT_OFFSET(field, offset) \
  ZAVN_STATIC_ASSERT(offsetof(PlayerStatus, field) == (offset), "PlayerStatus." #field " offset")

ZAVN_STATIC_ASSERT(sizeof(PlayerStatus) == 87032, "PlayerStatus size");
ZAVN_STATIC_ASSERT(sizeof(float) == 4, "float is an IEEE single");
ZAVN_ASSERT_OFFSET(Motion, 0);
ZAVN_ASSERT_OFFSET(MotionHistory, 24);
ZAVN_ASSERT_OFFSET(MotionCount, 24600);
ZAVN_ASSERT_OFFSET(SecondaryCount, 24604);
ZAVN_ASSERT_OFFSET(AccountPages, 24608);
ZAVN_ASSERT_OFFSET(ReservedA, 25008);
ZAVN_ASSERT_OFFSET(ReservedAHistory, 25020);
ZAVN_ASSERT_OFFSET(Extension, 37308);
ZAVN_ASSERT_OFFSET(ExtensionHistory, 37320);
ZAVN_ASSERT_OFFSET(ReservedB, 49608);
ZAVN_ASSERT_OFFSET(ReservedBHistory, 49620);
ZAVN_ASSERT_OFFSET(SecondaryMotion, 61908);
ZAVN_ASSERT_OFFSET(SecondaryHistory, 61932);
ZAVN_ASSERT_OFFSET(ReservedC, 86508);
ZAVN_ASSERT_OFFSET(RecordCount, 86552);
ZAVN_ASSERT_OFFSET(SecondaryRecordCount, 86556);
ZAVN_ASSERT_OFFSET(SerialBlock, 86560);
ZAVN_ASSERT_OFFSET(VersionBlock, 86576);
ZAVN_ASSERT_OFFSET(AccountStatus, 86588);
ZAVN_ASSERT_OFFSET(ReservedD, 86592);
ZAVN_ASSERT_OFFSET(BootBlock, 86612);
ZAVN_ASSERT_OFFSET(ReservedE, 86624);
ZAVN_ASSERT_OFFSET(ExtensionBytes, 86879);
ZAVN_ASSERT_OFFSET(ExtensionFlags, 86881);
ZAVN_ASSERT_OFFSET(ReservedF, 86885);
ZAVN_ASSERT_OFFSET(Padding1, 86887);
ZAVN_ASSERT_OFFSET(ReservedG, 86888);
ZAVN_ASSERT_OFFSET(ReservedFloat, 86908);
ZAVN_ASSERT_OFFSET(ButtonBytes, 86932);
ZAVN_ASSERT_OFFSET(Buttons, 86944);
ZAVN_ASSERT_OFFSET(RawRecord, 86967);
ZAVN_ASSERT_OFFSET(Padding2, 87031);

#undef ZAVN_ASSERT_OFFSET
#undef ZAVN_STATIC_ASSERT

#endif /* ZAVN_STATUS_H */
