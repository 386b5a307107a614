#include "platform/registry/registry.h"

namespace kvr::reg {

Status createKey(std::string_view) { return Status::AccessDenied; }
Status keyExists(std::string_view) { return Status::AccessDenied; }
Status deleteKey(std::string_view) { return Status::AccessDenied; }
Status canonicalPath(std::string_view, std::string&) { return Status::AccessDenied; }
Status queryDword(std::string_view, std::string_view, uint32_t&) { return Status::AccessDenied; }
Status querySz(std::string_view, std::string_view, std::string&) { return Status::AccessDenied; }
Status queryValue(std::string_view, std::string_view, Value&) { return Status::AccessDenied; }
Status setDword(std::string_view, std::string_view, uint32_t) { return Status::AccessDenied; }
Status setSz(std::string_view, std::string_view, std::string_view) { return Status::AccessDenied; }
Status setValue(std::string_view, const Value&) { return Status::AccessDenied; }
Status deleteValue(std::string_view, std::string_view) { return Status::AccessDenied; }
Status enumValues(std::string_view, std::vector<Value>&) { return Status::AccessDenied; }
Status enumSubkeys(std::string_view, std::vector<std::string>&) { return Status::AccessDenied; }
const char* statusText(Status) { return "access denied"; }
void closeStore() {}

} // namespace kvr::reg
