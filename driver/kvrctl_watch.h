#pragma once
// "kvrctl watch [UNIT]": the live raw reports and pointer records of a running driver, one
// line each on stdout, until Ctrl+C (SIGINT) or SIGTERM, without restarting anything (what
// evtest or ts_print_raw are to other input stacks). The driver keeps nothing for it once it
// ends: its socket closes with the process.
//
//   14:03:07.123456 RS232_DEVICE0 raw 80 12 34 56 78
//   14:03:07.123501 RS232_DEVICE0 pointer 32768,16384 left-down
//   14:03:07.200000 RS232_DEVICE0 dropped 12 (kvrctl did not keep up)

#include "platform/ipc/control_codes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kvr::kvrctl {

// One message of the watch socket as a line (no line feed); empty when it is no record.
// `prefix` names the units ("RS232_DEVICE" or "USB_DEVICE").
std::string formatWatchRecord(const std::uint8_t* message, std::size_t length,
                              std::string_view prefix);

// Watches control device `device` (KvrRs232D or KvrUsbMgr); unit kWatchEveryUnit for all.
// Exit status: 0 ended by a signal, 1 the driver cannot be reached, refused, or went away.
int watchDriver(const std::string& device, std::uint8_t unit);

} // namespace kvr::kvrctl
