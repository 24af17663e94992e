#pragma once

#include <cstdint>
#include <string_view>

namespace kelvora {

// The per-user store of integer settings, addressed by section and entry.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The stored value when the entry holds a 32-bit integer, else the default.
    virtual std::int32_t readInt(std::string_view section, std::string_view entry,
                                 std::int32_t defaultValue) = 0;
    // Stores the value, creating the section when needed. Failures are not
    // returned: the store tells of them itself.
    virtual void writeInt(std::string_view section, std::string_view entry, std::int32_t value) = 0;
    // Writes what is pending out to the store.
    virtual void flush() {}
};

} // namespace kelvora
