// Application settings: placeholder exports that fail until the real ones arrive.

#include "tsapi/tsapi.h"

extern "C" {

int32_t Set_Sound_Type(uint32_t) { return 0; }
uint32_t Get_Sound_Type(void) { return 0; }
int32_t Set_BuzzerFreq(uint32_t) { return 0; }
uint32_t Get_BuzzerFreq(void) { return 0; }
int32_t Set_BuzzerDuration(uint32_t) { return 0; }
uint32_t Get_BuzzerDuration(void) { return 0; }
int32_t DownBeep(void) { return 0; }
int32_t UpBeep(void) { return 0; }
int32_t Set_Touch_Access_Timeout(uint32_t) { return 0; }
uint32_t Touch_Access_Timeout(void) { return 0; }
int32_t Set_MRightClick_App(int32_t) { return 0; }
int32_t Get_Manual_RightClick_Status(void) { return 0; }
int32_t SetManualRightClick(int32_t) { return 0; }
int32_t SetManualRightEvent(void*) { return 0; }

} // extern "C"
