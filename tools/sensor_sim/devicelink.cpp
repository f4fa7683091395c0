#include "devicelink.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

DeviceLink::~DeviceLink()
{
    remove();
}

bool DeviceLink::publish(const std::string &target, const std::string &path, std::string &error)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
        error = path + " exists and is not a symbolic link";
        return false;
    }
    // Made beside the final name and renamed over it, so that a client never finds the
    // path missing or half made when an older link is replaced.
    const std::string temporary = path + ".tmp" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        error = "cannot create link " + path + ": " + std::strerror(errno);
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot create link " + path + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    m_target = target;
    m_path = path;
    return true;
}

void DeviceLink::remove()
{
    if (m_path.empty())
        return;
    // Another simulator may have taken the name over since; its link stays.
    std::vector<char> buffer(m_target.size() + 2);
    const ssize_t length = ::readlink(m_path.c_str(), buffer.data(), buffer.size());
    if (length >= 0 && std::string(buffer.data(), static_cast<std::size_t>(length)) == m_target)
        ::unlink(m_path.c_str());
    m_path.clear();
}
