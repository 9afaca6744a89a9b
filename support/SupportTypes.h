#pragma once
// The two support choices of the panel. Their numbers are the ones projects
// store ("BaseType", "SupportType", each cone's "ConeSupportType"): convert
// only where a number is read or written, through the functions below.
#include <cstdint>
#include <optional>

namespace support {

// How a cone is built: two crossed plates or a round column with bracing bars.
enum class SupportType : uint8_t { Cross = 0, Cylinder = 1 };
// What stands under the supports: nothing, one raft under all of them, or a
// circular base under each cone on the platform.
enum class BaseType : int32_t { None = 0, Raft = 1, Circle = 2 };

constexpr uint8_t storedValue(SupportType t) {
    return static_cast<uint8_t>(t);
}
constexpr int32_t storedValue(BaseType t) {
    return static_cast<int32_t>(t);
}

// A stored support type is a flag: every number but 0 means a cylinder support.
constexpr SupportType supportTypeFromFlag(int stored) {
    return stored != 0 ? SupportType::Cylinder : SupportType::Cross;
}

// The base type a stored number names; nothing for a number no type has.
constexpr std::optional<BaseType> baseTypeFromStored(int stored) {
    switch (stored) {
    case 0:
        return BaseType::None;
    case 1:
        return BaseType::Raft;
    case 2:
        return BaseType::Circle;
    default:
        return std::nullopt;
    }
}

} // namespace support
