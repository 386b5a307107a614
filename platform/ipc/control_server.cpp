#include "platform/ipc/control_device.h"

namespace kvr::ipc {

struct ControlServer::Impl {
    std::string path;
};

ControlServer::ControlServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ControlServer::~ControlServer() { stop(); }
std::unique_ptr<ControlServer> ControlServer::start(std::string, Dispatch, std::string,
                                                    std::string& error) {
    error = "not implemented yet";
    return nullptr;
}
void ControlServer::stop() {}
const std::string& ControlServer::path() const { return impl_->path; }
std::size_t ControlServer::connectionCount() const { return 0; }

} // namespace kvr::ipc
