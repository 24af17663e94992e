// The output folders below the working folder.
#include "output/OutputFolders.h"

#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;

class OutputFoldersIn : public ::testing::Test {
protected:
    TemporaryFolder temporary_{"kelvora-folders"};
    const std::string root_ = temporary_.string();
};

TEST_F(OutputFoldersIn, BothAreCreatedOnceAndFoundAgainLater) {
    EXPECT_EQ(accelerogramFolder(root_), root_ + "/Accelerogram");
    EXPECT_EQ(observationFolder(root_), root_ + "/Observation");
    ASSERT_TRUE(createOutputFolders(root_));
    EXPECT_TRUE(fs::is_directory(root_ + "/Accelerogram"));
    EXPECT_TRUE(fs::is_directory(root_ + "/Observation"));
    std::ofstream(root_ + "/Accelerogram/kept.csv") << "x";
    EXPECT_TRUE(createOutputFolders(root_)) << "existing folders are fine";
    EXPECT_TRUE(fs::exists(root_ + "/Accelerogram/kept.csv"));
}

TEST_F(OutputFoldersIn, AFileInTheWayOrAMissingWorkingFolderIsAFailure) {
    std::ofstream(root_ + "/Accelerogram") << "not a folder";
    EXPECT_FALSE(createOutputFolders(root_));
    EXPECT_TRUE(fs::is_directory(root_ + "/Observation")) << "the other one is still made";
    EXPECT_FALSE(createOutputFolders(root_ + "/missing"));
}

} // namespace
} // namespace kelvora::test
