// Calibration and linearity: placeholder exports that fail until the real ones arrive.

#include "tsapi/tsapi.h"

extern "C" {

int32_t SetCalPoint(int32_t, uint8_t, int32_t, uint8_t) { return 0; }
int32_t SetLinearityPoint(int32_t, uint8_t, int32_t, uint8_t) { return 0; }
int32_t CalCurrentPointReady(int32_t, int32_t*) { return 0; }
int32_t GetLinearityData(int32_t, int32_t*) { return 0; }
int32_t StoreCalibrationData(int32_t) { return 0; }
int32_t SetCalibrationPoint(int32_t, uint8_t) { return 0; }
int32_t GetCalibrationData(int32_t, int32_t*) { return 0; }
int32_t SaveCalibrationData(int32_t, const int32_t*, uint8_t) { return 0; }
int32_t SetBasePoint(int32_t, const int32_t*, uint8_t) { return 0; }
int32_t GetBasePoint(int32_t, int32_t*, uint8_t) { return 0; }

} // extern "C"
