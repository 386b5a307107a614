#ifndef LUMARCON_TSAPI_H
#define LUMARCON_TSAPI_H
/*
 * libtsapi: the touch API through which every program of the suite lists, opens and
 * configures touch controllers, exchanges commands with them, calibrates them, maps them to
 * displays and reads and writes the application settings.
 *
 * Conventions
 *  - A controller handle is a signed 32-bit integer from OpenController: 100 + n for serial
 *    controller n (0..7), 200 + n for USB controller n (0..3), -1 for a failed open. Every
 *    per-controller function takes it first and fails at once for any other value.
 *  - Results are plain integers: 1 success, 0 failure, and -1 or 255 from a few getters.
 *    No function throws, prints or keeps an error state.
 *  - The library has no thread and no lock; its tables are per process. Use it from one
 *    thread at a time.
 *  - Event handles are eventfd descriptors passed in a pointer-sized argument
 *    ((void*)(intptr_t)fd).
 */

#include <stdint.h>

#if defined(__GNUC__)
#define TSAPI_EXPORT __attribute__((visibility("default")))
#else
#define TSAPI_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Controller discovery and access ------------------------------------------------- */

/* Number of controllers found under the controller key (0..8); fills the name table. */
TSAPI_EXPORT uint8_t GetExistControllers(void);
/* Name of controller `index` (1 = first) with its terminating zero; 0 when it does not fit. */
TSAPI_EXPORT int32_t GetControllerName(uint8_t index, char* buffer, uint8_t length);
/* Handle of the named controller ("RS232_DEVICE0", "USB_DEVICE1", ...); -1 on failure. */
TSAPI_EXPORT int32_t OpenController(const char* name);
/* 1 for any handle in 100..107 or 200..203; 0 otherwise. */
TSAPI_EXPORT int32_t CloseController(int32_t handle);

/* Raw channel to the controller and its state. */
TSAPI_EXPORT int32_t WriteBuffer(int32_t handle, const uint8_t* bytes, uint32_t length);
TSAPI_EXPORT uint32_t ReadBuffer(int32_t handle, uint8_t* buffer, uint32_t length);
TSAPI_EXPORT uint32_t ReadLength(int32_t handle);
TSAPI_EXPORT int32_t FlushReadBuffer(int32_t handle);
TSAPI_EXPORT int32_t IsPenUp(int32_t handle);
TSAPI_EXPORT int32_t DisableTouchReport(int32_t handle, uint8_t mode);
TSAPI_EXPORT int32_t GetReportStatus(int32_t handle);

/* COM port of a serial controller (serial handles only). */
TSAPI_EXPORT uint8_t CurrentCOMPort(int32_t handle);
TSAPI_EXPORT int32_t ChangeCOMPort(int32_t handle, uint32_t comPort, uint32_t baudRate);
TSAPI_EXPORT int32_t CloseCOMPort(int32_t handle);
TSAPI_EXPORT int32_t ReopenCOMPort(int32_t handle);

/* Driver information. */
TSAPI_EXPORT int32_t GetDriverInterface(int32_t handle);
TSAPI_EXPORT int32_t GetDriverVersion(int32_t handle, char* buffer, uint8_t length);
TSAPI_EXPORT int32_t GetDriverPort(int32_t handle, char* buffer, uint8_t length);

/* ---- Controller and driver settings ------------------------------------------------------ */

TSAPI_EXPORT int32_t SetRotation(int32_t handle, uint8_t rotation);
TSAPI_EXPORT uint8_t GetRotation(int32_t handle);
TSAPI_EXPORT int32_t EnableDownSound(int32_t handle, int32_t flag);
TSAPI_EXPORT int32_t EnableUpSound(int32_t handle, int32_t flag);
TSAPI_EXPORT int32_t GetDownSoundStatus(int32_t handle);
TSAPI_EXPORT int32_t GetUpSoundStatus(int32_t handle);
TSAPI_EXPORT int32_t SetReportMode(int32_t handle, uint8_t mode);
TSAPI_EXPORT uint8_t GetReportMode(int32_t handle);
TSAPI_EXPORT int32_t EnableRightClick(int32_t handle, uint8_t flag);
TSAPI_EXPORT int32_t GetRightClickEnabled(int32_t handle);
TSAPI_EXPORT int32_t EnableDoubleClick(int32_t handle, int32_t flag);
TSAPI_EXPORT int32_t GetDoubleClickEnabled(int32_t handle);
/* side: 1 top, 2 bottom, 3 left, 4 right; value 0..4095 */
TSAPI_EXPORT int32_t SetExpandValue(int32_t handle, uint8_t side, uint32_t value);
TSAPI_EXPORT uint16_t GetExpandValue(int32_t handle, uint8_t side);

/* Desktop double-click settings (the handle is not used). */
TSAPI_EXPORT int32_t SetDoubleClickSpeed(int32_t handle, uint8_t level);
TSAPI_EXPORT int32_t GetDoubleClickSpeed(int32_t handle);
TSAPI_EXPORT int32_t SetDoubleClickArea(int32_t handle, uint8_t level);
TSAPI_EXPORT int32_t GetDoubleClickArea(int32_t handle);

/* Controller parameters. */
TSAPI_EXPORT int32_t GetRightClickTime(int32_t handle);
TSAPI_EXPORT int32_t SetRightClickTime(int32_t handle, int32_t timeMs);
TSAPI_EXPORT int32_t GetMeasureTime(int32_t handle);
TSAPI_EXPORT int32_t SetMeasureTime(int32_t handle, int32_t value);
TSAPI_EXPORT int32_t GetInfocus(int32_t handle);
TSAPI_EXPORT int32_t SetInfocus(int32_t handle, int32_t value);
TSAPI_EXPORT int32_t GetMeasureDelay(int32_t handle);
TSAPI_EXPORT int32_t SetMeasureDelay(int32_t handle, int32_t value);
TSAPI_EXPORT int32_t GetOutfocus(int32_t handle);
TSAPI_EXPORT int32_t SetOutfocus(int32_t handle, int32_t value);
TSAPI_EXPORT uint8_t GetTouchSensitivity(int32_t handle);
TSAPI_EXPORT int32_t SetTouchSensitivity(int32_t handle, uint8_t level);
TSAPI_EXPORT uint8_t GetNoiseLevel(int32_t handle);
TSAPI_EXPORT int32_t SetNoiseLevel(int32_t handle, uint8_t value);
TSAPI_EXPORT int32_t GetAccLevel(int32_t handle);
TSAPI_EXPORT int32_t SetAccLevel(int32_t handle, uint8_t value);

/* ---- Calibration and linearity --------------------------------------------------------- */

TSAPI_EXPORT int32_t SetCalPoint(int32_t handle, uint8_t pointIndex, int32_t unused,
                                 uint8_t pointCount);
TSAPI_EXPORT int32_t SetLinearityPoint(int32_t handle, uint8_t pointIndex, int32_t unused,
                                       uint8_t pointCount);
/* point: two 32-bit integers (raw x, raw y), or null */
TSAPI_EXPORT int32_t CalCurrentPointReady(int32_t handle, int32_t* point);
TSAPI_EXPORT int32_t GetLinearityData(int32_t handle, int32_t* point);
TSAPI_EXPORT int32_t StoreCalibrationData(int32_t handle);
TSAPI_EXPORT int32_t SetCalibrationPoint(int32_t handle, uint8_t pointIndex);
TSAPI_EXPORT int32_t GetCalibrationData(int32_t handle, int32_t* point);
/* block: six 32-bit integers x0, y0, x1, y1, x2, y2 (length 24) */
TSAPI_EXPORT int32_t SaveCalibrationData(int32_t handle, const int32_t* block, uint8_t length);
/* point: two 32-bit integers x, y (length 8) */
TSAPI_EXPORT int32_t SetBasePoint(int32_t handle, const int32_t* point, uint8_t length);
TSAPI_EXPORT int32_t GetBasePoint(int32_t handle, int32_t* point, uint8_t length);

/* ---- Displays and multi-monitor mapping ------------------------------------------------ */

TSAPI_EXPORT uint8_t GetExistDisplays(void);
TSAPI_EXPORT int32_t GetDisplayName(uint8_t number, char* buffer, uint8_t length);
/* rect: four 32-bit integers left, top, right, bottom */
TSAPI_EXPORT int32_t GetDisplayArea(const char* name, int32_t* rect);
TSAPI_EXPORT int32_t PartitionDisplay(uint8_t number, uint8_t type, uint8_t parts);
TSAPI_EXPORT uint8_t GetPartitioned_Display(void);
TSAPI_EXPORT uint8_t GetPartition_Mode(void);
TSAPI_EXPORT uint8_t GetPartition_Parts(void);
TSAPI_EXPORT int32_t AskToSetDisplayNumber(uint8_t displayIndex);
TSAPI_EXPORT int32_t QueryDisplayBeTouched(void);
TSAPI_EXPORT int32_t AskToSetMultiMonitor(uint8_t arrangement, uint8_t displayIndex);
TSAPI_EXPORT int32_t QueryMultiMonitorSetOK(void);
TSAPI_EXPORT uint8_t GetDisplayNumber(int32_t handle);
/* The same function as GetDisplayNumber under a second name. */
TSAPI_EXPORT uint8_t GetMultiMonitorNumber(int32_t handle);
TSAPI_EXPORT uint8_t GetMultiMonitorLayout(int32_t handle);
TSAPI_EXPORT int32_t SetDisplayChange(int32_t flag);
TSAPI_EXPORT int32_t GetDisplayChange(void);

/* ---- Application settings --------------------------------------------------------------- */

TSAPI_EXPORT int32_t Set_Sound_Type(uint32_t soundType);
TSAPI_EXPORT uint32_t Get_Sound_Type(void);
TSAPI_EXPORT int32_t Set_BuzzerFreq(uint32_t frequencyHz);
TSAPI_EXPORT uint32_t Get_BuzzerFreq(void);
TSAPI_EXPORT int32_t Set_BuzzerDuration(uint32_t durationMs);
TSAPI_EXPORT uint32_t Get_BuzzerDuration(void);
TSAPI_EXPORT int32_t DownBeep(void);
TSAPI_EXPORT int32_t UpBeep(void);
TSAPI_EXPORT int32_t Set_Touch_Access_Timeout(uint32_t timeoutMs);
TSAPI_EXPORT uint32_t Touch_Access_Timeout(void);
TSAPI_EXPORT int32_t Set_MRightClick_App(int32_t start);
TSAPI_EXPORT int32_t Get_Manual_RightClick_Status(void);
TSAPI_EXPORT int32_t SetManualRightClick(int32_t flag);
TSAPI_EXPORT int32_t SetManualRightEvent(void* eventHandle);

#ifdef __cplusplus
} /* extern "C" */

/* Registers `eventHandle` as the touch-up event of controller `handle` (both pointer-sized:
 * the controller handle as an integer value, the event as an eventfd descriptor value).
 * Exported under its C++ name only. The reply byte when exactly one came back; else 0. */
TSAPI_EXPORT uint8_t SetUpEventHandle(void* handle, void* eventHandle);
#endif

#endif /* LUMARCON_TSAPI_H */
