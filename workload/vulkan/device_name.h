#pragma once

// The name a Vulkan device is shown by.

#include <string>
#include <string_view>

namespace ventaro::gpu::vulkan {

/// `name` without a trailing parenthesised driver tag and the blanks before it
/// ("AMD Radeon RX 580 Series (RADV POLARIS10)" gives "AMD Radeon RX 580 Series"). A name
/// that is nothing but such a tag, or whose parentheses do not pair up, is kept as it is.
std::string deviceNameWithoutDriverTag(std::string_view name);

} // namespace ventaro::gpu::vulkan
