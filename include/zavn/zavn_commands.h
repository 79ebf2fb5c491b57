/*
 * ZAVN_Main commands: output reports to the receiver and its transmitters.
 *
 * Each sender writes one report to the slot of player 1..4 and waits for nothing. Answers (serial
 * number, version, account pages, boot-loader data) arrive in the input reports and are read with
 * ZAVNGetStatus. A player outside 1..4, a slot that is not open, or a null data pointer sends
 * nothing; the function still returns its usual result. Arguments documented as bytes are 32-bit
 * integers of which the low 8 bits are sent.
 */
#ifndef ZAVN_COMMANDS_H
#define ZAVN_COMMANDS_H

#include "zavn_defs.h"

ZAVN_EXTERN_C_BEGIN

/* Mode switches: report `ID value` (2 bytes) with the ID 01 .. 06 of the mode. Return 1. */
ZAVN_API int32_t ZAVN_CALL ZAVNSwitchBrowser(int32_t playerIndex, int32_t value);
ZAVN_API int32_t ZAVN_CALL ZAVNSwitchKeyboard(int32_t playerIndex, int32_t value);
ZAVN_API int32_t ZAVN_CALL ZAVNSwitchMotionKey(int32_t playerIndex, int32_t value);
ZAVN_API int32_t ZAVN_CALL ZAVNSwitchRawdata(int32_t playerIndex, int32_t value);
ZAVN_API int32_t ZAVN_CALL ZAVNSwitchGameMode(int32_t playerIndex, int32_t value);
/* The G-sensitivity value also sets the acceleration scale of the player's motion samples, as the
   motion profile gives it (zavn_motion.h). */
ZAVN_API int32_t ZAVN_CALL ZAVNSwitchGSensitivity(int32_t playerIndex, int32_t value);

/* Command 1: ZAVNSwitchBrowser with *value; command 2: ZAVNSwitchKeyboard with *value; any other
   command sends nothing and does not read value. Returns 1. */
ZAVN_API int32_t ZAVN_CALL ZAVNSendCMDToTx(int32_t playerIndex, int32_t command,
                                           const uint8_t* value);

/* Form 1: the serial-number query with the sub-command (answered by a serial-number record,
   SerialBlock). Form 2: serial-number data; sub-command 2 sends the 16 bytes at data, any other
   sends 16 zero bytes and does not read data. Other forms send nothing. */
ZAVN_API void ZAVN_CALL ZAVNAskSerialNumber(int32_t playerIndex, int32_t subCommand,
                                            const uint8_t* data, int32_t form);

/* Report 0B: the operation byte and the 12 bytes at version (answered in VersionBlock). */
ZAVN_API void ZAVN_CALL ZAVNReadWriteVersionNum(int32_t playerIndex, int32_t operation,
                                                const uint8_t* version);

/* Report 0A: two control bytes and 25 digit values, each sent as value + 0x30 (answered in
   AccountPages and AccountStatus). */
ZAVN_API void ZAVN_CALL ZAVNWriteAccountData(int32_t playerIndex, int32_t first, int32_t second,
                                             const uint8_t* digits);

/* The boot command of selector 0..4 (selector 3 carries the sum ZAVNWriteVUKHex has accumulated,
   which ZAVNGetVUKAppCheckSum then gives). Returns 1 when written, the system's error code when the
   write failed, 0 when nothing was sent (slot not open or unusable, player or selector out of
   range). */
ZAVN_API int32_t ZAVN_CALL ZAVNReadFWNumBootNum(int32_t playerIndex, int32_t selector);

/* Writes value in radix 2..36 with a terminating zero into buffer (33 bytes hold every value) and
   returns buffer. Radix 10 writes negative values with a minus sign; other radices write the
   32-bit pattern as unsigned; digits above 9 are lower-case. Another radix writes an empty
   string. A null buffer returns null. */
ZAVN_API char* ZAVN_CALL ZAVNITOA(int32_t value, char* buffer, int32_t radix);

/* Report 07 with the 8 bytes at bytes; when bytes[0] is 0x45 ('E') the fixed erase report
   07 00 00 00 17 45 52 41 53 instead. Returns 16. */
ZAVN_API int32_t ZAVN_CALL ZAVNSetMotorAction(int32_t playerIndex, const uint8_t* bytes);

/* Report 04 N 00 00 (4 bytes) with the player number byte. */
ZAVN_API void ZAVN_CALL ZAVNSelectPlayerNum(int32_t playerIndex, int32_t number);

/* Report 06 A 00 00 (4 bytes) with the antenna byte. */
ZAVN_API void ZAVN_CALL ZAVNSwitchRFAntenna(int32_t playerIndex, int32_t antenna);

/* Report 09 with the low byte of each of the 12 integers at values. */
ZAVN_API void ZAVN_CALL ZAVNSendAPIKeyboardMouse(int32_t playerIndex, const int32_t* values);

/* Report 0D (33 bytes) with the low byte of each of the 15 integers at values, then zeros. */
ZAVN_API void ZAVN_CALL ZAVNSendAPINewKeyJoystick(int32_t playerIndex, const int32_t* values);

/* Report 12: screen width and height, mouse x and y, each its low 16 bits, big-endian.
   Returns 1. */
ZAVN_API int32_t ZAVN_CALL ZAVNSendScrResolMSXYPos(int32_t playerIndex, int32_t width,
                                                   int32_t height, int32_t mouseX, int32_t mouseY);

/* Report 13 with two bytes of application information. Returns 1. */
ZAVN_API int32_t ZAVN_CALL ZAVNSendAppInfoToDongle(int32_t playerIndex, int32_t first,
                                                   int32_t second);

/* Selects game entry `game` of the settings file for the plug-in dispatch, with a parameter
   passed to the plug-in. The four per-player modes are taken over only when the dispatch has
   taken the previous set; until then the earlier set stays pending. A null modes leaves the
   pending set as it is. Sends nothing. */
ZAVN_API void ZAVN_CALL ZAVNSelectGameChannel(int32_t game, const int32_t* modes,
                                              int32_t parameter);

/* Deselects the game (the pending modes and the parameter stay). Sends nothing. */
ZAVN_API void ZAVN_CALL ZAVNClearGameChannel(void);

ZAVN_EXTERN_C_END

#endif /* ZAVN_COMMANDS_H */
