/* The public header compiled as C: every declaration must be valid C11 under the project's
 * warnings, and every export is referenced so the program also links them as C symbols. */
#include "tsapi/tsapi.h"

#include <stddef.h>

/* Any function pointer converts to and from this type without a warning. */
typedef void (*tsapi_function)(void);


/* Number of exports the C view of the header declares (the C++-only name excluded). */
int tsapi_header_c_export_count(void);

int tsapi_header_c_export_count(void) {
    tsapi_function names[] = {
        (tsapi_function)&GetExistControllers, (tsapi_function)&GetControllerName,
        (tsapi_function)&OpenController, (tsapi_function)&CloseController,
        (tsapi_function)&WriteBuffer, (tsapi_function)&ReadBuffer, (tsapi_function)&ReadLength,
        (tsapi_function)&FlushReadBuffer, (tsapi_function)&IsPenUp, (tsapi_function)&DisableTouchReport,
        (tsapi_function)&GetReportStatus, (tsapi_function)&CurrentCOMPort, (tsapi_function)&ChangeCOMPort,
        (tsapi_function)&CloseCOMPort, (tsapi_function)&ReopenCOMPort, (tsapi_function)&GetDriverInterface,
        (tsapi_function)&GetDriverVersion, (tsapi_function)&GetDriverPort,
        (tsapi_function)&SetRotation, (tsapi_function)&GetRotation, (tsapi_function)&EnableDownSound,
        (tsapi_function)&EnableUpSound, (tsapi_function)&GetDownSoundStatus,
        (tsapi_function)&GetUpSoundStatus, (tsapi_function)&SetReportMode, (tsapi_function)&GetReportMode,
        (tsapi_function)&EnableRightClick, (tsapi_function)&GetRightClickEnabled,
        (tsapi_function)&EnableDoubleClick, (tsapi_function)&GetDoubleClickEnabled,
        (tsapi_function)&SetExpandValue, (tsapi_function)&GetExpandValue,
        (tsapi_function)&SetDoubleClickSpeed, (tsapi_function)&GetDoubleClickSpeed,
        (tsapi_function)&SetDoubleClickArea, (tsapi_function)&GetDoubleClickArea,
        (tsapi_function)&GetRightClickTime, (tsapi_function)&SetRightClickTime,
        (tsapi_function)&GetMeasureTime, (tsapi_function)&SetMeasureTime, (tsapi_function)&GetInfocus,
        (tsapi_function)&SetInfocus, (tsapi_function)&GetMeasureDelay, (tsapi_function)&SetMeasureDelay,
        (tsapi_function)&GetOutfocus, (tsapi_function)&SetOutfocus, (tsapi_function)&GetTouchSensitivity,
        (tsapi_function)&SetTouchSensitivity, (tsapi_function)&GetNoiseLevel,
        (tsapi_function)&SetNoiseLevel, (tsapi_function)&GetAccLevel, (tsapi_function)&SetAccLevel,
        (tsapi_function)&SetCalPoint, (tsapi_function)&SetLinearityPoint,
        (tsapi_function)&CalCurrentPointReady, (tsapi_function)&GetLinearityData,
        (tsapi_function)&StoreCalibrationData, (tsapi_function)&SetCalibrationPoint,
        (tsapi_function)&GetCalibrationData, (tsapi_function)&SaveCalibrationData,
        (tsapi_function)&SetBasePoint, (tsapi_function)&GetBasePoint,
        (tsapi_function)&GetExistDisplays, (tsapi_function)&GetDisplayName, (tsapi_function)&GetDisplayArea,
        (tsapi_function)&PartitionDisplay, (tsapi_function)&GetPartitioned_Display,
        (tsapi_function)&GetPartition_Mode, (tsapi_function)&GetPartition_Parts,
        (tsapi_function)&AskToSetDisplayNumber, (tsapi_function)&QueryDisplayBeTouched,
        (tsapi_function)&AskToSetMultiMonitor, (tsapi_function)&QueryMultiMonitorSetOK,
        (tsapi_function)&GetDisplayNumber, (tsapi_function)&GetMultiMonitorNumber,
        (tsapi_function)&GetMultiMonitorLayout, (tsapi_function)&SetDisplayChange,
        (tsapi_function)&GetDisplayChange,
        (tsapi_function)&Set_Sound_Type, (tsapi_function)&Get_Sound_Type, (tsapi_function)&Set_BuzzerFreq,
        (tsapi_function)&Get_BuzzerFreq, (tsapi_function)&Set_BuzzerDuration,
        (tsapi_function)&Get_BuzzerDuration, (tsapi_function)&DownBeep, (tsapi_function)&UpBeep,
        (tsapi_function)&Set_Touch_Access_Timeout, (tsapi_function)&Touch_Access_Timeout,
        (tsapi_function)&Set_MRightClick_App, (tsapi_function)&Get_Manual_RightClick_Status,
        (tsapi_function)&SetManualRightClick, (tsapi_function)&SetManualRightEvent,
    };
    int count = 0;
    size_t i;
    for (i = 0; i < sizeof names / sizeof names[0]; ++i) count += names[i] != NULL;
    return count;
}
