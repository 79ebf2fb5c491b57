// Which images the build carries. The build defines ZAVN_REAL_FIRMWARE_IMAGES for this file
// when it makes the tables from the maker's files.
#include "firmware/images.h"
#include "zavn/zavn_firmware.h"

namespace zavn::firmware {

bool ImagesArePlaceholders() {
#ifdef ZAVN_REAL_FIRMWARE_IMAGES
  return false;
#else
  return true;
#endif
}

}  // namespace zavn::firmware

extern "C" ZAVN_API int32_t ZAVN_CALL ZAVNFirmwareImagesArePlaceholders(void) {
  return zavn::firmware::ImagesArePlaceholders() ? 1 : 0;
}
