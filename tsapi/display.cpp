// Displays and multi-monitor mapping: placeholder exports that fail until the real ones arrive.

#include "tsapi/tsapi.h"

extern "C" {

uint8_t GetExistDisplays(void) { return 0; }
int32_t GetDisplayName(uint8_t, char*, uint8_t) { return 0; }
int32_t GetDisplayArea(const char*, int32_t*) { return 0; }
int32_t PartitionDisplay(uint8_t, uint8_t, uint8_t) { return 0; }
uint8_t GetPartitioned_Display(void) { return 0; }
uint8_t GetPartition_Mode(void) { return 0; }
uint8_t GetPartition_Parts(void) { return 0; }
int32_t AskToSetDisplayNumber(uint8_t) { return 0; }
int32_t QueryDisplayBeTouched(void) { return 0; }
int32_t AskToSetMultiMonitor(uint8_t, uint8_t) { return 0; }
int32_t QueryMultiMonitorSetOK(void) { return 0; }
uint8_t GetDisplayNumber(int32_t) { return 0; }
uint8_t GetMultiMonitorNumber(int32_t handle) __attribute__((alias("GetDisplayNumber")));
uint8_t GetMultiMonitorLayout(int32_t) { return 0; }
int32_t SetDisplayChange(int32_t) { return 0; }
int32_t GetDisplayChange(void) { return 0; }

} // extern "C"
