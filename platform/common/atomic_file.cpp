#include "platform/common/atomic_file.h"

#include "platform/common/unique_fd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kvr::files {
namespace {

bool fail(std::string* error, const std::string& what, int err) {
    if (error != nullptr) *error = what + ": " + std::strerror(err);
    return false;
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Makes the rename itself durable: the folder's entry is flushed too.
void syncFolder(const std::filesystem::path& dir) {
    UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) ::fsync(fd.get());
}

} // namespace

bool writeFileAtomically(const std::filesystem::path& path, std::string_view contents,
                         std::string* error) {
    const std::filesystem::path dir =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string tmpl = (dir / ("." + path.filename().string() + ".XXXXXX")).string();
    UniqueFd fd(::mkostemp(tmpl.data(), O_CLOEXEC));
    if (!fd) return fail(error, "cannot create a file in " + dir.string(), errno);
    const std::string tmp = tmpl;

    // mkostemp makes the file 0600; give it the mode the file had, or the usual one.
    struct stat old {};
    mode_t mode = 0;
    if (::stat(path.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0644 & ~mask;
    }
    ::fchmod(fd.get(), mode);

    auto discard = [&](const std::string& what) {
        const int err = errno;
        ::unlink(tmp.c_str());
        return fail(error, what, err);
    };
    if (!writeAll(fd.get(), contents)) return discard("cannot write " + path.string());
    if (::fsync(fd.get()) != 0) return discard("cannot flush " + path.string());
    if (::close(fd.release()) != 0) return discard("cannot close " + path.string());
    if (::rename(tmp.c_str(), path.c_str()) != 0) return discard("cannot replace " + path.string());
    syncFolder(dir);
    return true;
}

} // namespace kvr::files
