#pragma once

#include <string>

/// A symbolic link that gives the pseudo-terminal a stable name for clients to open.
/// Removed again when the simulator ends.
class DeviceLink
{
public:
    DeviceLink() = default;
    ~DeviceLink();
    DeviceLink(const DeviceLink &) = delete;
    DeviceLink &operator=(const DeviceLink &) = delete;

    /// Makes path point to target, replacing an older link there but nothing else.
    bool publish(const std::string &target, const std::string &path, std::string &error);

    /// Removes the link if it is still ours.
    void remove();

private:
    std::string m_target;
    std::string m_path;
};
