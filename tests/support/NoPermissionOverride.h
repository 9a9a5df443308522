#pragma once
// Takes the file-permission override away from this thread (and the threads it starts) while it
// lives: root passes every permission check otherwise.
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace support {

class TNoPermissionOverride
{
public:
    TNoPermissionOverride()
    {
        FOk = syscall(SYS_capget, &FHeader, FSaved) == 0;
        __user_cap_data_struct reduced[2] = {FSaved[0], FSaved[1]};
        reduced[0].effective &=
            ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        FOk = FOk && syscall(SYS_capset, &FHeader, reduced) == 0;
    }
    ~TNoPermissionOverride()
    {
        if (FOk)
            syscall(SYS_capset, &FHeader, FSaved);
    }
    TNoPermissionOverride(const TNoPermissionOverride &) = delete;
    TNoPermissionOverride &operator=(const TNoPermissionOverride &) = delete;

private:
    __user_cap_header_struct FHeader{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct FSaved[2]{};
    bool FOk = false;
};

} // namespace support
