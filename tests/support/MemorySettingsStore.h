#pragma once

#include "settings/SettingsStore.h"

#include <cstdint>
#include <map>
#include <string>

namespace kelvora::test {

// A settings store in memory: "Section/Entry" -> value. Counts flushes, so a
// test sees that the settings were written out.
class MemorySettingsStore : public SettingsStore {
public:
    std::int32_t readInt(std::string_view section, std::string_view entry,
                         std::int32_t defaultValue) override {
        const auto found = values.find(key(section, entry));
        return found == values.end() ? defaultValue : found->second;
    }
    void writeInt(std::string_view section, std::string_view entry, std::int32_t value) override {
        values[key(section, entry)] = value;
        ++writes;
    }
    void flush() override { ++flushes; }

    static std::string key(std::string_view section, std::string_view entry) {
        return std::string(section) + "/" + std::string(entry);
    }

    std::map<std::string, std::int32_t> values;
    int writes = 0;
    int flushes = 0;
};

} // namespace kelvora::test
