/*
 * The virtual receiver: a software model of the receiver dongle's HID interfaces, shipped in
 * the library so that hosts and tests run without the hardware. Selected at load when the
 * environment variable ZAVN_VIRTUAL_RX is set to a non-empty value other than "0", or with
 * ZAVNVirtualSelect. Every function here is thread-safe.
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
/* Input reports held per interface (the oldest is dropped when full) and output reports kept. */
#define ZAVN_VIRTUAL_INPUT_QUEUE 32
#define ZAVN_VIRTUAL_OUTPUT_LOG 4096

/* 1: discovery and every HID call go to the virtual receiver; 0: to the OS HID stack.
   Returns the previous setting. Meant to be called while no slot is open. */
ZAVN_API int32_t ZAVN_CALL ZAVNVirtualSelect(int32_t on);

/* Unplugs and forgets every virtual interface. */
ZAVN_API void ZAVN_CALL ZAVNVirtualClear(void);

/* Plugs one HID interface at the end of the enumeration order. product is ASCII (at most
   126 characters); null makes the product-string query fail. Report lengths are 1 to
   ZAVN_VIRTUAL_MAX_REPORT_LENGTH. Returns its id (>= 1), or 0 when there is no room or an
   argument is out of range. */
ZAVN_API int32_t ZAVN_CALL ZAVNVirtualPlug(int32_t vendorId, int32_t productId,
                                           int32_t inputReportLength, int32_t outputReportLength,
                                           const char* product);

/* Removes the interface from the enumeration; reads and writes on handles already open to it
   fail. Returns 1, or 0 for an unknown id. */
ZAVN_API int32_t ZAVN_CALL ZAVNVirtualUnplug(int32_t id);

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

ZAVN_EXTERN_C_END

#endif /* ZAVN_VIRTUAL_H */
