#pragma once
// The touch report engine in one include.
#include "engine/calibration.h"
#include "engine/decode.h"
#include "engine/device.h"
#include "engine/interfaces.h"
#include "engine/pipeline.h"
#include "engine/report_modes.h"
#include "engine/response_queue.h"
