// The controller session's calls bound to the exports of libtsapi.

#include "protocol/session.h"
#include "tsapi/tsapi.h"

namespace kvr::protocol {

const ControllerCalls& libraryCalls() {
    static constexpr ControllerCalls kExports{
        .open = OpenController,
        .close = CloseController,
        .flush = FlushReadBuffer,
        .write = WriteBuffer,
        .read = ReadBuffer,
    };
    return kExports;
}

} // namespace kvr::protocol
