// The device type codes the library knows; any other is stored as 42.
#include "device/DeviceSocket.h"

namespace {
constexpr std::uint16_t kKnownDeviceTypes[] = {2,   42,  43,  50,   698,  702,
                                               769, 946, 962, 1793, 4122, 28698};
constexpr std::uint16_t kDefaultDeviceType = 42;
} // namespace

std::uint16_t MapDeviceType(std::uint16_t reported)
{
    for (std::uint16_t known : kKnownDeviceTypes) {
        if (known == reported)
            return reported;
    }
    return kDefaultDeviceType;
}
