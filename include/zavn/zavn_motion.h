/*
 * Motion in physical units: each motion record of a player as a timestamped sample, its
 * acceleration in g and rotation rate in degrees per second, with the gyro bias taken out, and
 * the controller's attitude. Computed on the poll thread as each record is decoded, whether or
 * not the host reads; every function here is thread-safe.
 *
 * The controller's frame: x to the right, y forward (where the controller points), z up out of
 * its top face; right-handed; a rotation is positive by the right-hand rule. Lying still face
 * up, the accelerometer reads +1 g on z.
 *
 * The receiver's reports carry six raw counts per record and say nothing of units: a sensor
 * profile says what each channel measures, its zero and its counts per unit. The defaults below
 * are assumptions until a controller is measured (zavn-monitor --calibrate writes a profile
 * file); a profile file replaces them per player or per transmitter serial number.
 */
#ifndef ZAVN_MOTION_H
#define ZAVN_MOTION_H

#include "zavn_defs.h"

ZAVN_EXTERN_C_BEGIN

typedef struct ZAVNMotionSample {
  int64_t timeUs;       /* when the library read the record's report, on ZAVNTimeUs's clock */
  uint32_t sample;      /* the player's motion record number: +1 per record, from 1 at connect */
  uint32_t buttons;     /* Buttons[0..22] as bits 0..22 */
  float accelG[3];      /* acceleration along x, y, z in g */
  float gyroDps[3];     /* rotation rate about x, y, z in degrees per second, bias taken out */
  float orientation[4]; /* attitude, unit quaternion w, x, y, z: controller frame to world
                           frame; world z up; yaw 0 where the controller pointed at its first
                           sample */
} ZAVNMotionSample;

/* Samples kept per player: more than a second at 1000 records a second. */
#define ZAVN_MOTION_RING 1024

/* The player's samples since the previous call, oldest first, at most capacity; returns how
   many (a gap in `sample` says how many were overwritten before the host read them). 0 for a
   player outside 1..4, a null buffer or capacity <= 0. */
ZAVN_API int32_t ZAVN_CALL ZAVNReadMotion(int32_t playerIndex, ZAVNMotionSample* samples,
                                          int32_t capacity);

/* The library's clock in microseconds: CLOCK_MONOTONIC on Linux, QueryPerformanceCounter on
   Windows. */
ZAVN_API int64_t ZAVN_CALL ZAVNTimeUs(void);

/* The default profile: Motion[0..2] are acceleration x, y, z, Motion[3..5] rotation about x, y,
   z, each centred on ZAVN_MOTION_DEFAULT_ZERO; acceleration has
   ZAVN_MOTION_DEFAULT_COUNTS_PER_G counts per g (+-4 g) until the host switches the
   G-sensitivity (ZAVNSwitchGSensitivity value 0..3: +-2, +-4, +-8, +-16 g), rotation
   ZAVN_MOTION_DEFAULT_COUNTS_PER_DPS counts per degree per second (+-2000 deg/s). */
#define ZAVN_MOTION_DEFAULT_ZERO 32768
#define ZAVN_MOTION_DEFAULT_COUNTS_PER_G 8192
#define ZAVN_MOTION_DEFAULT_COUNTS_PER_DPS 16.384

/* Loads a profile file (INI) that replaces the defaults for the players and transmitters it
   names, from each one's next record on; null goes back to the defaults. Returns 1, or 0 when
   the file cannot be read or breaks a rule: then the profile in use stays, and error receives a
   message naming the file, line and key (at most errorCapacity bytes with its NUL). The
   environment variable ZAVN_MOTION_PROFILE names a file loaded at ZAVNInit. */
ZAVN_API int32_t ZAVN_CALL ZAVNLoadMotionProfile(const char* file, char* error,
                                                 int32_t errorCapacity);

/* Automatic gyro calibration: while the controller lies still the library measures the gyro's
   bias and takes it out. On for every player by default. */
#define ZAVN_CALIBRATION_OFF 0     /* no correction; the bias measured so far is forgotten */
#define ZAVN_CALIBRATION_AUTO 1    /* measure while still and correct (the default) */
#define ZAVN_CALIBRATION_RESTART 2 /* forget the bias and measure it anew, then as AUTO */
/* Returns 1, or 0 for a player outside 1..4 or an unknown mode. */
ZAVN_API int32_t ZAVN_CALL ZAVNSetMotionCalibration(int32_t playerIndex, int32_t mode);
/* The bias taken out of the player's rotation rate, in degrees per second, into biasDps[0..2];
   returns 1 once it has been measured, 0 before (biasDps then holds zeros) or for a player
   outside 1..4 or a null pointer. */
ZAVN_API int32_t ZAVN_CALL ZAVNGetGyroBias(int32_t playerIndex, float* biasDps);

ZAVN_EXTERN_C_END

#endif /* ZAVN_MOTION_H */
