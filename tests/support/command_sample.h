/* A sample of the commands to player 1, one of each length of output report the library sends
   (2 to 33 bytes), and the exact reports the receiver must get, in order. The hosts that run the
   OS HID backends against the USB receiver model send it: tests/kernel/kernel_test.cpp behind
   hidraw, tests/windows/windows_host.c (zavn_wine_host) under Wine's HID stack. Every command's
   layout is checked on the virtual receiver (tests/integration/command_test.cpp). Each report is as
   long as the longest of its ID, the length the receiver model declares: under Wine 8 a shorter one
   fails (05 03, the 16-byte serial query) or never arrives (the 2-byte 04 and 05). C, for the
   Windows host. */
#ifndef ZAVN_TEST_COMMAND_SAMPLE_H
#define ZAVN_TEST_COMMAND_SAMPLE_H

#include "zavn/zavn.h"

/* Sends the sample; whether each call returned what it should. */
static int ZavnSendCommandSample(void) {
  static const int32_t values[15] = {0x130, 0x131, 0x132, 0x133, 0x134, 0x135, 0x136, 0x137,
                                     0x138, 0x139, 0x13A, 0x13B, 0x13C, 0x13D, 0x13E};
  static const uint8_t digits[25] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 1, 2,
                                     3, 4, 5, 6, 7, 8, 9, 0, 1, 2, 3, 4};
  char scratch[ZAVN_IMAGE_LINE_BYTES];
  int returned = ZAVNSwitchBrowser(1, 0x11) == 1;
  returned += ZAVNSendAppInfoToDongle(1, 0x21, 0x122) == 1;
  ZAVNSwitchRFAntenna(1, 2);
  returned += ZAVNSendScrResolMSXYPos(1, 1920, 1080, 0x1234, 0x10567) == 1;
  ZAVNSendAPIKeyboardMouse(1, values);
  ZAVNReadWriteVersionNum(1, 1, (const uint8_t*)"V09.08.07-KT");
  returned += ZAVNReadFWNumBootNum(1, 0) == 1;
  ZAVNAskSerialNumber(1, 2, (const uint8_t*)"KERNELTEST000001", 2);
  ZAVNWriteAccountData(1, 2, 0, digits);
  ZAVNWriteHarlonHex(1, scratch,
                     "030102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  ZAVNSendAPINewKeyJoystick(1, values);
  return returned == 4;
}

/* The reports the receiver must get, in order, in hexadecimal. */
static const char* const zavnCommandSample[] = {
    "01 11",
    "13 21 22",
    "06 02 00 00",
    "12 07 80 04 38 12 34 05 67",
    "09 30 31 32 33 34 35 36 37 38 39 3A 3B",
    "0B 01 56 30 39 2E 30 38 2E 30 37 2D 4B 54", /* V09.08.07-KT */
    "11 65 91 00 00 00 00 00 00 00 00 00 00 00 00 00",
    "05 02 4B 45 52 4E 45 4C 54 45 53 54 30 30 30 30 30 31", /* KERNELTEST000001 */
    "0A 02 00 30 31 32 33 34 35 36 37 38 39 30 31 32 33 34 35 36 37 38 39 30 31 32 33 34",
    "03 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D "
    "1E 1F",
    "0D 30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
    "00 00",
};

#endif /* ZAVN_TEST_COMMAND_SAMPLE_H */
