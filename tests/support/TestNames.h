#pragma once

// Names of table cases for INSTANTIATE_TEST_SUITE_P, so a case is run and
// filtered by its label rather than by its position in the table.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace kelvora::test {

// A label as a test name GoogleTest accepts: letters, digits and '_' only,
// every other character turned into '_'.
inline std::string testName(const std::string& label) {
    std::string name = label.empty() ? "_" : label;
    for (char& c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
            c = '_';
        }
    }
    return name;
}

// The name generator of a table whose cases carry a `name` label.
struct CaseName {
    template <typename Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        return testName(info.param.name);
    }
};

} // namespace kelvora::test
