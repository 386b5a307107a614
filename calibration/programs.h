#pragma once
// The two calibration programs put together: their help, their windows' setup from a session
// and the message table, and the whole program (what main runs). The window's library calls
// (the capture, the program's steps) are made on the program's library worker.

#include "calibration/calibration_window.h"
#include "calibration/linearity.h"
#include "calibration/three_point.h"
#include "gui/program.h"

namespace kvr::calibration {

inline constexpr const char* kThreePointClass = "CAL3PT";
inline constexpr const char* kLinearityClass = "LINEAR";
inline constexpr const char* kThreePointMessageFile = "msg_3p_calib.txt";
inline constexpr const char* kLinearityMessageFile = "msg_linear.txt";

const gui::ProgramInfo& threePointInfo();
const gui::ProgramInfo& linearityInfo();

WindowSetup threePointWindowSetup(ThreePointSession& session, const MessageTable& messages);
WindowSetup linearityWindowSetup(LinearitySession& session, const MessageTable& messages);

// The programs, from the command line to the exit status (0..255) the process leaves with.
int runThreePoint(int argc, char** argv);
int runLinearity(int argc, char** argv);

} // namespace kvr::calibration
