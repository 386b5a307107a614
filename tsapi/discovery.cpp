// Controller discovery and access: placeholder exports that fail until the real ones arrive.

#include "tsapi/tsapi.h"

extern "C" {

uint8_t GetExistControllers(void) { return 0; }
int32_t GetControllerName(uint8_t, char*, uint8_t) { return 0; }
int32_t OpenController(const char*) { return -1; }
int32_t CloseController(int32_t) { return 0; }
int32_t WriteBuffer(int32_t, const uint8_t*, uint32_t) { return 0; }
uint32_t ReadBuffer(int32_t, uint8_t*, uint32_t) { return 0; }
uint32_t ReadLength(int32_t) { return 0; }
int32_t FlushReadBuffer(int32_t) { return 0; }
int32_t IsPenUp(int32_t) { return 0; }
int32_t DisableTouchReport(int32_t, uint8_t) { return 0; }
int32_t GetReportStatus(int32_t) { return 0; }
uint8_t CurrentCOMPort(int32_t) { return 0; }
int32_t ChangeCOMPort(int32_t, uint32_t, uint32_t) { return 0; }
int32_t CloseCOMPort(int32_t) { return 0; }
int32_t ReopenCOMPort(int32_t) { return 0; }
int32_t GetDriverInterface(int32_t) { return 0; }
int32_t GetDriverVersion(int32_t, char*, uint8_t) { return 0; }
int32_t GetDriverPort(int32_t, char*, uint8_t) { return 0; }

} // extern "C"

uint8_t SetUpEventHandle(void*, void*) { return 0; }
