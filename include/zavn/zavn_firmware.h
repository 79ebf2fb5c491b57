/*
 * ZAVN_Main firmware update: the per-slot update machine the poll thread runs, and the two image
 * writers it uses, which hosts may also call with lines of their own.
 */
#ifndef ZAVN_FIRMWARE_H
#define ZAVN_FIRMWARE_H

#include "zavn_defs.h"

ZAVN_EXTERN_C_BEGIN

/* Bytes of a line or row given to the writers, and of their scratch buffer. */
#define ZAVN_IMAGE_LINE_BYTES 64

/* ZAVNBootLoaderFSM modes. */
#define ZAVN_UPDATE_STOP 0    /* the slot's machine stays where it is */
#define ZAVN_UPDATE_RUN 1     /* the poll thread runs the slot's machine every cycle */
#define ZAVN_UPDATE_RESET 100 /* every slot's machine is put back to its start, every cycle */

/* Progress that ZAVNGetBootloaderStatus reports at each step of an update. The phases that send
   an image creep upwards from their start value as the receiver answers. */
#define ZAVN_UPDATE_IDENTIFIED 7
#define ZAVN_UPDATE_READING_SERIAL 14
#define ZAVN_UPDATE_SERIAL_READ 21
#define ZAVN_UPDATE_ERASED 28
#define ZAVN_UPDATE_SENDING_TABLE_IMAGE 30
#define ZAVN_UPDATE_BOOT_STARTED 42
#define ZAVN_UPDATE_BOOT_STEP1 49
#define ZAVN_UPDATE_BOOT_STEP2 56 /* also where sending the HEX image starts */
#define ZAVN_UPDATE_CHECKSUM_SENT 70
#define ZAVN_UPDATE_BOOT_FINISHED 77
#define ZAVN_UPDATE_WRITING_SERIAL 84
#define ZAVN_UPDATE_SERIAL_WRITTEN 91
#define ZAVN_UPDATE_DONE 100

/* Sets slot 1..4's update mode. Returns 1, or 0 (and changes nothing) for another slot.
   An update run lasts from the mode set to 1 from another mode until the machine is done
   (ZAVN_UPDATE_DONE), the mode is set to anything else, or ZAVNReset. The serial number that
   the machine reads before the erase is written back ("NOLTAZ") in the same run only: a run
   that has not read one writes back the receiver's SerialBlock as last decoded. So setting 0 and
   then 1 continues the machine from its state, but as a new run, since the receiver may have
   been exchanged meanwhile. */
ZAVN_API int32_t ZAVN_CALL ZAVNBootLoaderFSM(int32_t slot, int32_t mode);

/* The progress of slot 1..4's machine after its last pass (0 for another slot). */
ZAVN_API int32_t ZAVN_CALL ZAVNGetBootloaderStatus(int32_t slot);

/* 1 when the library carries placeholder firmware images (the default build), 0 when it was built
   with the maker's images (CMake options ZAVN_FIRMWARE_HEX and ZAVN_FIRMWARE_REPORT_TABLE).
   Placeholder images go to the virtual receiver only: the machine of a slot whose receiver was
   opened through the system's HID stack stays at its start, ZAVNGetBootloaderStatus 0, and sends
   nothing. */
ZAVN_API int32_t ZAVN_CALL ZAVNFirmwareImagesArePlaceholders(void);

/* Read and clear slot 1..4's grant to send the next table row / HEX line (0 for another slot).
   Every boot-loader record the receiver sends grants one of each. */
ZAVN_API int32_t ZAVN_CALL ZAVNCheckHarlonCHKAK(int32_t slot);
ZAVN_API int32_t ZAVN_CALL ZAVNCheckVUKCHKAK(int32_t slot);

/* Sends one Intel HEX record (the NUL-terminated text in the 64 bytes at line, from its ':') as
   report 0x10 to player 1..4, and adds its data bytes other than 0xFF to the image checksum
   that ZAVNReadFWNumBootNum's selector 3 carries (the update machine's lines too). scratch (64
   bytes) receives a copy of the line. A line without NUL in its 64 bytes, or with more data bytes
   than the report holds (27), is refused: nothing is sent or summed. The data of a record that
   could not be sent is summed all the same. */
ZAVN_API void ZAVN_CALL ZAVNWriteVUKHex(int32_t playerIndex, char* scratch, const char* line);

/* The checksum carried by the last checksum report written to a receiver (boot command 23 B7):
   the update machine's (the sum of the data bytes of that transfer's HEX lines, modulo 2^32) or
   the host's ZAVNReadFWNumBootNum(player, 3) (the sum ZAVNWriteVUKHex accumulates); 0 before one
   was written since ZAVNReset. Lines written with ZAVNWriteVUKHex do not change it by themselves.
 */
ZAVN_API uint32_t ZAVN_CALL ZAVNGetVUKAppCheckSum(void);

/* Sends the 32-byte report written as the 64 hex digits at row to player 1..4; scratch (64
   bytes) receives a copy. A row with a NUL among its 64 characters is refused. */
ZAVN_API void ZAVN_CALL ZAVNWriteHarlonHex(int32_t playerIndex, char* scratch, const char* row);

ZAVN_EXTERN_C_END

#endif /* ZAVN_FIRMWARE_H */
