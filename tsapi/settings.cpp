// Controller and driver settings: placeholder exports that fail until the real ones arrive.

#include "tsapi/tsapi.h"

extern "C" {

int32_t SetRotation(int32_t, uint8_t) { return 0; }
uint8_t GetRotation(int32_t) { return 0; }
int32_t EnableDownSound(int32_t, int32_t) { return 0; }
int32_t EnableUpSound(int32_t, int32_t) { return 0; }
int32_t GetDownSoundStatus(int32_t) { return 0; }
int32_t GetUpSoundStatus(int32_t) { return 0; }
int32_t SetReportMode(int32_t, uint8_t) { return 0; }
uint8_t GetReportMode(int32_t) { return 0; }
int32_t EnableRightClick(int32_t, uint8_t) { return 0; }
int32_t GetRightClickEnabled(int32_t) { return 0; }
int32_t EnableDoubleClick(int32_t, int32_t) { return 0; }
int32_t GetDoubleClickEnabled(int32_t) { return 0; }
int32_t SetExpandValue(int32_t, uint8_t, uint32_t) { return 0; }
uint16_t GetExpandValue(int32_t, uint8_t) { return 0; }
int32_t SetDoubleClickSpeed(int32_t, uint8_t) { return 0; }
int32_t GetDoubleClickSpeed(int32_t) { return 0; }
int32_t SetDoubleClickArea(int32_t, uint8_t) { return 0; }
int32_t GetDoubleClickArea(int32_t) { return 0; }
int32_t GetRightClickTime(int32_t) { return 0; }
int32_t SetRightClickTime(int32_t, int32_t) { return 0; }
int32_t GetMeasureTime(int32_t) { return 0; }
int32_t SetMeasureTime(int32_t, int32_t) { return 0; }
int32_t GetInfocus(int32_t) { return 0; }
int32_t SetInfocus(int32_t, int32_t) { return 0; }
int32_t GetMeasureDelay(int32_t) { return 0; }
int32_t SetMeasureDelay(int32_t, int32_t) { return 0; }
int32_t GetOutfocus(int32_t) { return 0; }
int32_t SetOutfocus(int32_t, int32_t) { return 0; }
uint8_t GetTouchSensitivity(int32_t) { return 0; }
int32_t SetTouchSensitivity(int32_t, uint8_t) { return 0; }
uint8_t GetNoiseLevel(int32_t) { return 0; }
int32_t SetNoiseLevel(int32_t, uint8_t) { return 0; }
int32_t GetAccLevel(int32_t) { return 0; }
int32_t SetAccLevel(int32_t, uint8_t) { return 0; }

} // extern "C"
