// The installed tree as `cmake --install` lays it out in a temporary prefix:
// every file in its place and nothing else, a desktop entry and metainfo the
// desktop's own validators accept, and the installed program started the way
// a desktop menu starts it.
#include "support/ChildProcess.h"
#include "support/Files.h"
#include "support/TemporaryFolder.h"
#include "support/Waiting.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kelvora::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::string_view kAppId = KELVORA_APP_ID;
const fs::path kBin = KELVORA_INSTALL_BINDIR;
const fs::path kShare = KELVORA_INSTALL_DATADIR;
const fs::path kData = kShare / "kelvora";
const std::vector<std::string> kPrograms = {"kelvora", "kelvora-replay", "kelvora-report",
                                            "kelvora-shm", "kelvora-sim"};
const std::vector<int> kIconSizes = {16, 32, 48, 64, 128, 256};

// The runtime data as the build stages it, relative to the data folder.
std::set<fs::path> runtimeDataFiles() {
    std::set<fs::path> files = {"取扱説明書.txt"};
    for (int k = 1; k <= 9; ++k) {
        const std::string n = "0" + std::to_string(k);
        files.insert("Sounds/SiAlert/" + n + ".wav");
        files.insert("Sounds/SiNotice/jma_" + n + ".wav");
        files.insert("Sounds/SiNotice/mmi_" + n + ".wav");
    }
    for (const char* language : {"jpn", "eng", "cht", "chs", "kor"}) {
        files.insert(fs::path("Images/Language") / language / "kelvora_bg.bmp");
    }
    return files;
}

std::set<fs::path> filesBelow(const fs::path& folder) {
    std::set<fs::path> files;
    std::error_code error;
    for (auto entry = fs::recursive_directory_iterator(folder, error);
         !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
        if (!entry->is_directory()) {
            files.insert(entry->path().lexically_relative(folder));
        }
    }
    return files;
}

std::string desktopFileName() {
    return std::string(kAppId) + ".desktop";
}

std::string lines(const std::set<fs::path>& files) {
    std::string text;
    for (const auto& file : files) {
        text += "  " + file.string() + "\n";
    }
    return text;
}

// A validator found when the tests were configured; scripts/bootstrap
// installs them, so a missing one is a failure, not a reason to skip.
::testing::AssertionResult found(const std::string& tool, const char* package) {
    if (tool.empty() || tool.ends_with("-NOTFOUND")) {
        return ::testing::AssertionFailure() << "no " << tool << ": install the package " << package
                                             << " (scripts/bootstrap does) and configure again";
    }
    return ::testing::AssertionSuccess();
}

// Installs the build into `prefix`. `cmake --install` also writes its list of
// installed files into the build folder, which an ordinary user running the
// tests cannot write: then the same install script runs with that one list
// written into `scratch` instead.
ToolRun install(const fs::path& prefix, const fs::path& scratch) {
    const fs::path build = KELVORA_BUILD_DIR;
    ChildOptions options;
    options.out = Redirect::file(scratch / "install.out");
    options.err = Redirect::file(scratch / "install.err");
    if (::access(build.c_str(), W_OK) == 0) {
        return runTool(
            {KELVORA_CMAKE_COMMAND, "--install", build.string(), "--prefix", prefix.string()},
            options, 300s);
    }
    std::string script = readAll(build / "cmake_install.cmake");
    const std::string manifest = "file(WRITE \"" + build.string() + "/";
    const auto at = script.find(manifest);
    if (at == std::string::npos) {
        return {-1, "",
                "no list of installed files in " + (build / "cmake_install.cmake").string()};
    }
    script.replace(at, manifest.size(), "file(WRITE \"" + scratch.string() + "/");
    std::ofstream(scratch / "cmake_install.cmake", std::ios::binary) << script;
    return runTool({KELVORA_CMAKE_COMMAND, "-DCMAKE_INSTALL_PREFIX=" + prefix.string(), "-P",
                    (scratch / "cmake_install.cmake").string()},
                   options, 300s);
}

// Whether process `pid` runs `program` and has a handler for `signal`: a
// signal sent before the handler is set would kill it outright.
bool catches(pid_t pid, const fs::path& program, int signal) {
    std::error_code error;
    const std::string proc = "/proc/" + std::to_string(pid);
    if (!fs::equivalent(fs::read_symlink(proc + "/exe", error), program, error)) {
        return false;
    }
    std::ifstream status(proc + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("SigCgt:")) {
            const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
            return ((mask >> (signal - 1)) & 1U) != 0;
        }
    }
    return false;
}

class InstalledTree : public ::testing::Test {
protected:
    // One install for the cases of a run.
    static void SetUpTestSuite() {
        root_ = std::make_unique<TemporaryFolder>("kelvora-install");
        fs::create_directories(root_->path() / "scratch");
        installRun_ = install(root_->path() / "prefix", root_->path() / "scratch");
    }
    static void TearDownTestSuite() { root_.reset(); }

    void SetUp() override {
        ASSERT_EQ(installRun_.exitStatus, 0) << installRun_.out << installRun_.err;
    }

    static fs::path prefix() { return root_->path() / "prefix"; }

    static inline std::unique_ptr<TemporaryFolder> root_;
    static inline ToolRun installRun_;
};

TEST_F(InstalledTree, PutsEachFileInItsPlaceAndNothingElse) {
    std::set<fs::path> expected;
    for (const auto& program : kPrograms) {
        expected.insert(kBin / program);
    }
    for (const auto& file : runtimeDataFiles()) {
        expected.insert(kData / file);
    }
    expected.insert(kShare / "applications" / desktopFileName());
    expected.insert(kShare / "metainfo" / (std::string(kAppId) + ".metainfo.xml"));
    for (const int size : kIconSizes) {
        const std::string folder = std::to_string(size) + "x" + std::to_string(size);
        expected.insert(kShare / "icons/hicolor" / folder / "apps" /
                        (std::string(kAppId) + ".png"));
    }
    expected.insert(kShare / "icons/hicolor/scalable/apps" / (std::string(kAppId) + ".svg"));

    const std::set<fs::path> installed = filesBelow(prefix());
    EXPECT_EQ(installed, expected) << "installed:\n" << lines(installed);

    for (const auto& program : kPrograms) {
        EXPECT_EQ(::access((prefix() / kBin / program).c_str(), X_OK), 0) << program;
    }
    // The data is what the build staged, byte for byte (the manual keeps its CR LF).
    for (const auto& file : runtimeDataFiles()) {
        EXPECT_TRUE(readAll(prefix() / kData / file) ==
                    readAll(fs::path(KELVORA_RUNTIME_DIR) / file))
            << file;
    }
    // Each icon is a PNG of the size its folder says.
    for (const int size : kIconSizes) {
        const std::string folder = std::to_string(size) + "x" + std::to_string(size);
        const std::string png = readAll(prefix() / kShare / "icons/hicolor" / folder / "apps" /
                                        (std::string(kAppId) + ".png"));
        ASSERT_GE(png.size(), 24u) << folder;
        EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n") << folder;
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(png[i]); };
        const unsigned width = (byte(16) << 24) | (byte(17) << 16) | (byte(18) << 8) | byte(19);
        const unsigned height = (byte(20) << 24) | (byte(21) << 16) | (byte(22) << 8) | byte(23);
        EXPECT_EQ(width, static_cast<unsigned>(size)) << folder;
        EXPECT_EQ(height, static_cast<unsigned>(size)) << folder;
    }
}

TEST_F(InstalledTree, DesktopEntryAndMetainfoPassTheDesktopValidators) {
    ASSERT_TRUE(found(KELVORA_DESKTOP_FILE_VALIDATE, "desktop-file-utils"));
    ASSERT_TRUE(found(KELVORA_APPSTREAMCLI, "appstream"));
    const fs::path desktop = prefix() / kShare / "applications" / desktopFileName();
    const fs::path metainfo =
        prefix() / kShare / "metainfo" / (std::string(kAppId) + ".metainfo.xml");

    // Warnings count too: desktop-file-validate prints nothing for a clean entry.
    const ToolRun entry = runTool({KELVORA_DESKTOP_FILE_VALIDATE, desktop.string()}, {}, 60s);
    EXPECT_EQ(entry.exitStatus, 0) << entry.out << entry.err;
    EXPECT_EQ(entry.out + entry.err, "");

    // An AppStream cache of the tool's own, away from the user's home.
    ChildOptions quiet;
    quiet.environment = {{"HOME", (root_->path() / "scratch").string()},
                         {"XDG_CACHE_HOME", (root_->path() / "scratch/cache").string()}};
    const ToolRun file = runTool(
        {KELVORA_APPSTREAMCLI, "validate", "--no-net", "--strict", "--pedantic", metainfo.string()},
        quiet, 60s);
    EXPECT_EQ(file.exitStatus, 0) << file.out << file.err;
    // The tree check also matches the metainfo with its desktop entry and icon.
    const ToolRun tree =
        runTool({KELVORA_APPSTREAMCLI, "validate-tree", "--no-net", "--strict", prefix().string()},
                quiet, 60s);
    EXPECT_EQ(tree.exitStatus, 0) << tree.out << tree.err;

    // What the validators leave alone: the entry starts the installed program
    // with the installed icon.
    const std::string text = readAll(desktop);
    EXPECT_NE(text.find("\nExec=kelvora\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nIcon=" + std::string(kAppId) + "\n"), std::string::npos) << text;
    const std::string xml = readAll(metainfo);
    EXPECT_NE(xml.find("<id>" + std::string(kAppId) + "</id>"), std::string::npos);
    EXPECT_NE(xml.find("<launchable type=\"desktop-id\">" + desktopFileName() + "</launchable>"),
              std::string::npos);
}

// Started from a desktop menu, the current directory is the home folder and
// holds no runtime data: the program works in the user's data folder, filled
// from the installed data, and never writes into the home folder itself.
TEST_F(InstalledTree, ProgramStartsFromTheDesktopMenu) {
    const fs::path home = root_->path() / "home";
    const fs::path config = root_->path() / "config";
    const fs::path data = root_->path() / "data";
    const fs::path runtime = root_->path() / "runtime";
    for (const fs::path& folder : {home, config, data, runtime}) {
        fs::create_directories(folder);
    }
    const fs::path work = data / "Vantrell" / "Kelvora";
    // A sound the user replaced before: it stays theirs.
    fs::create_directories(work / "Sounds" / "SiAlert");
    std::ofstream(work / "Sounds" / "SiAlert" / "05.wav", std::ios::binary) << "my own siren";

    ::chmod(runtime.c_str(), 0700);
    ChildOptions options;
    options.out = Redirect::file(root_->path() / "program.out");
    options.err = Redirect::file(root_->path() / "program.err");
    options.environment = {{"QT_QPA_PLATFORM", "offscreen"},
                           {"HOME", home.string()},
                           {"XDG_CACHE_HOME", (root_->path() / "cache").string()},
                           {"XDG_CONFIG_HOME", config.string()},
                           {"XDG_DATA_HOME", data.string()},
                           {"XDG_RUNTIME_DIR", runtime.string()}};
    const fs::path program = prefix() / kBin / "kelvora";
    ChildProcess kelvora(
        {"/bin/sh", "-c", "cd '" + home.string() + "' && exec '" + program.string() + "'"},
        options);
    // The window makes the output folders when it opens.
    ASSERT_TRUE(waitFor(
        [&] {
            return fs::is_directory(work / "Observation") &&
                   fs::is_directory(work / "Accelerogram");
        },
        60s))
        << readAll(root_->path() / "program.err");
    ASSERT_TRUE(waitFor([&] { return catches(kelvora.pid(), program, SIGTERM); }, 60s))
        << readAll(root_->path() / "program.err");
    ASSERT_TRUE(kelvora.signal(SIGTERM));
    EXPECT_EQ(exitCode(kelvora.wait(30s)), 0) << readAll(root_->path() / "program.err");

    for (const auto& file : runtimeDataFiles()) {
        if (file != "Sounds/SiAlert/05.wav") {
            EXPECT_TRUE(readAll(work / file) == readAll(prefix() / kData / file)) << file;
        }
    }
    EXPECT_EQ(readAll(work / "Sounds/SiAlert/05.wav"), "my own siren");
    for (const char* output : {"Observation", "Accelerogram"}) {
        EXPECT_FALSE(fs::exists(home / output)) << output << " in the home folder";
    }
    EXPECT_EQ(readAll(root_->path() / "program.err").find("working folder"), std::string::npos)
        << readAll(root_->path() / "program.err");
    // The settings go where they always go, written at the close.
    const std::string settings = readAll(config / "Vantrell" / "kelvora.conf");
    EXPECT_NE(settings.find("LangNo="), std::string::npos) << settings;
}

} // namespace
} // namespace kelvora::test
