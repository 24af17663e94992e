// kelvora-shm: reads the live values a running monitor shares with other
// programs, through the layout header any reader would use, and follows the
// readers' side of the status-byte protocol.
#include <kelvora/publication_block.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kUsage =
    "Usage: kelvora-shm [--name NAME] [--once] [--json]\n"
    "Reads the shared-memory block in which a running Kelvora publishes its live\n"
    "values: the acceleration samples of the last five frames, the JMA intensity\n"
    "code and the environment readings.\n"
    "\n"
    "  --name NAME   the block's name (default " KELVORA_SHM_NAME ");\n"
    "                a leading '/' is added when missing\n"
    "  --once        print the three sections once, as they are, and exit; the\n"
    "                updated bytes are left alone\n"
    "  --json        one JSON object per line instead of text\n"
    "  --help        this text\n"
    "\n"
    "Without --once it watches the block until SIGINT or SIGTERM (Ctrl-C): every\n"
    "few milliseconds it prints each section whose updated byte is 0xFF and sets\n"
    "that byte back to 0, as a reader does (the acceleration section only while\n"
    "its busy byte is 0).\n"
    "\n"
    "The block is opened, never created: without a running monitor (or a reader\n"
    "that created it) the program exits with status 1, and so it does when\n"
    "another program cuts the block short while it is being read. Bad options\n"
    "exit with 2.\n"
    "\n"
    "One line per section; doubles are printed with %.17g, so they read back\n"
    "exactly; intensity is the JMA intensity the code stands for (255: 22.5 or\n"
    "more):\n"
    "  acceleration busy=0 updated=255 x=X0,X1,X2,X3,X4,0 y=... z=...\n"
    "  intensity busy=0 updated=255 code=75 intensity=4.5\n"
    "  environment busy=0 updated=255 temperature=T humidity=H pressure=P "
    "seaLevelPressure=S\n"
    "With --json:\n"
    "  {\"section\":\"acceleration\",\"busy\":0,\"updated\":255,\"x\":[...],\"y\":[...],"
    "\"z\":[...]}\n"
    "  {\"section\":\"intensity\",\"busy\":0,\"updated\":255,\"code\":75,\"intensity\":4.5}\n"
    "  {\"section\":\"environment\",\"busy\":0,\"updated\":255,\"temperature\":T,"
    "\"humidity\":H,\"pressure\":P,\"seaLevelPressure\":S}\n";

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int) {
    g_stop = 1;
}

// Another program may cut the block short (ftruncate) while we read it; the
// next access to the mapping then raises SIGBUS. A size check before each
// round would leave a window between the check and the access, and reading
// through the descriptor (pread) would give up the one atomic load per field.
// So the fault itself is caught at the block's addresses only: zero memory is
// mapped over the block, the access completes harmlessly, and what was read
// is dropped (Block::cutShort). Any other SIGBUS keeps its default action.
std::atomic<std::uintptr_t> g_blockAddress{0};
std::atomic<bool> g_cutShort{false};
static_assert(std::atomic<std::uintptr_t>::is_always_lock_free &&
              std::atomic<bool>::is_always_lock_free);

void onBusError(int signal, siginfo_t* info, void*) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    const std::uintptr_t begin = g_blockAddress.load();
    if (info->si_code > 0 && begin != 0 && address - begin < KELVORA_SHM_SIZE &&
        ::mmap(reinterpret_cast<void*>(begin), KELVORA_SHM_SIZE, PROT_READ | PROT_WRITE,
               MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
        g_cutShort = true;
        return;
    }
    // The default action: a fault repeats on return, a sent signal is sent again.
    std::signal(SIGBUS, SIG_DFL);
    if (info->si_code <= 0) {
        std::raise(signal);
    }
}

void guardBlock(void* base) {
    g_blockAddress = reinterpret_cast<std::uintptr_t>(base);
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, nullptr);
}

void sleepMilliseconds(long ms) {
    timespec t{ms / 1000, (ms % 1000) * 1000000L};
    ::nanosleep(&t, nullptr);
}

// The mapped block. Every access is one atomic load or store: the monitor
// writes it from another process at the same time.
class Block {
public:
    explicit Block(std::uint8_t* base) : base_(base) {}

    std::uint8_t byte(int offset) const {
        return std::atomic_ref<std::uint8_t>(base_[offset]).load();
    }
    double real(int offset) const {
        return std::atomic_ref<double>(*reinterpret_cast<double*>(base_ + offset)).load();
    }
    void clear(int offset) { std::atomic_ref<std::uint8_t>(base_[offset]).store(0); }
    // True once another program has cut the block short: what was read since
    // is zeros, not the monitor's values.
    bool cutShort() const { return g_cutShort.load(); }

private:
    std::uint8_t* base_;
};

struct Acceleration {
    int busy = 0;
    int updated = 0;
    double axis[3][KELVORA_SHM_SAMPLES] = {};
};

struct Intensity {
    int busy = 0;
    int updated = 0;
    int code = 0;
};

struct Environment {
    int busy = 0;
    int updated = 0;
    double temperature = 0.0;
    double humidity = 0.0;
    double pressure = 0.0;
    double seaLevelPressure = 0.0;
};

void readSamples(const Block& block, Acceleration& a) {
    const int axes[3] = {KELVORA_SHM_ACCEL_X, KELVORA_SHM_ACCEL_Y, KELVORA_SHM_ACCEL_Z};
    for (int axis = 0; axis < 3; ++axis) {
        for (int i = 0; i < KELVORA_SHM_SAMPLES; ++i) {
            a.axis[axis][i] = block.real(axes[axis] + i * 8);
        }
    }
}

void readValues(const Block& block, Environment& e) {
    e.temperature = block.real(KELVORA_SHM_TEMPERATURE);
    e.humidity = block.real(KELVORA_SHM_HUMIDITY);
    e.pressure = block.real(KELVORA_SHM_PRESSURE);
    e.seaLevelPressure = block.real(KELVORA_SHM_SEA_LEVEL_PRESSURE);
}

// --- Output ------------------------------------------------------------------------

// Why standard output first failed; 0 while it works.
int g_outputError = 0;

// False once standard output has failed.
bool flushOutput() {
    if (std::fflush(stdout) != 0 && g_outputError == 0) {
        g_outputError = errno;
    }
    if (std::ferror(stdout) && g_outputError == 0) {
        g_outputError = EIO;
    }
    return g_outputError == 0;
}

std::string number(double v, bool json) {
    if (json && !std::isfinite(v)) {
        return "null"; // JSON has no NaN or infinity
    }
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

void print(const Acceleration& a, bool json) {
    static const char* const names[3] = {"x", "y", "z"};
    std::string line = json ? "{\"section\":\"acceleration\",\"busy\":" : "acceleration busy=";
    line += std::to_string(a.busy);
    line += json ? ",\"updated\":" : " updated=";
    line += std::to_string(a.updated);
    for (int axis = 0; axis < 3; ++axis) {
        line +=
            json ? std::string(",\"") + names[axis] + "\":[" : std::string(" ") + names[axis] + "=";
        for (int i = 0; i < KELVORA_SHM_SAMPLES; ++i) {
            line += (i > 0 ? "," : "") + number(a.axis[axis][i], json);
        }
        line += json ? "]" : "";
    }
    line += json ? "}\n" : "\n";
    std::fputs(line.c_str(), stdout);
}

void print(const Intensity& s, bool json) {
    char intensity[16];
    std::snprintf(intensity, sizeof intensity, "%.1f", KELVORA_SHM_CODE_INTENSITY(s.code));
    if (json) {
        std::printf("{\"section\":\"intensity\",\"busy\":%d,\"updated\":%d,\"code\":%d,"
                    "\"intensity\":%s}\n",
                    s.busy, s.updated, s.code, intensity);
    } else {
        std::printf("intensity busy=%d updated=%d code=%d intensity=%s\n", s.busy, s.updated,
                    s.code, intensity);
    }
}

void print(const Environment& e, bool json) {
    const std::string t = number(e.temperature, json);
    const std::string h = number(e.humidity, json);
    const std::string p = number(e.pressure, json);
    const std::string s = number(e.seaLevelPressure, json);
    if (json) {
        std::printf("{\"section\":\"environment\",\"busy\":%d,\"updated\":%d,\"temperature\":%s,"
                    "\"humidity\":%s,\"pressure\":%s,\"seaLevelPressure\":%s}\n",
                    e.busy, e.updated, t.c_str(), h.c_str(), p.c_str(), s.c_str());
    } else {
        std::printf("environment busy=%d updated=%d temperature=%s humidity=%s pressure=%s "
                    "seaLevelPressure=%s\n",
                    e.busy, e.updated, t.c_str(), h.c_str(), p.c_str(), s.c_str());
    }
}

// --- Reading -----------------------------------------------------------------------

// The three sections as they are. The samples are taken between two copies
// when the monitor is writing; after a second of copies the block is shown
// as it is. Nothing is shown when the block was cut short meanwhile.
void printOnce(const Block& block, bool json) {
    Acceleration a;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        a.busy = block.byte(KELVORA_SHM_ACCEL_BUSY);
        a.updated = block.byte(KELVORA_SHM_ACCEL_UPDATED);
        readSamples(block, a);
        if (a.busy == 0 && block.byte(KELVORA_SHM_ACCEL_BUSY) == 0) {
            break;
        }
        sleepMilliseconds(1);
    }

    Intensity s;
    s.busy = block.byte(KELVORA_SHM_JMA_BUSY);
    s.updated = block.byte(KELVORA_SHM_JMA_UPDATED);
    s.code = block.byte(KELVORA_SHM_JMA_PEAK_CODE);

    Environment e;
    e.busy = block.byte(KELVORA_SHM_ENV_BUSY);
    e.updated = block.byte(KELVORA_SHM_ENV_UPDATED);
    readValues(block, e);
    if (block.cutShort()) {
        return;
    }
    print(a, json);
    print(s, json);
    print(e, json);
    flushOutput();
}

// A section is read after its updated byte has been cleared; when the byte is
// set again (or a copy is running) by the end of the read, a newer write has
// overlapped it, and the next poll reads that one instead. The watch ends
// when the block is cut short.
void watch(Block& block, bool json) {
    while (g_stop == 0) {
        if (block.byte(KELVORA_SHM_ACCEL_UPDATED) == KELVORA_SHM_UPDATED &&
            block.byte(KELVORA_SHM_ACCEL_BUSY) == 0) {
            Acceleration a;
            a.updated = KELVORA_SHM_UPDATED;
            block.clear(KELVORA_SHM_ACCEL_UPDATED);
            readSamples(block, a);
            if (block.byte(KELVORA_SHM_ACCEL_BUSY) == 0 &&
                block.byte(KELVORA_SHM_ACCEL_UPDATED) == 0 && !block.cutShort()) {
                print(a, json);
            }
        }
        if (block.byte(KELVORA_SHM_JMA_UPDATED) == KELVORA_SHM_UPDATED) {
            Intensity s;
            s.updated = KELVORA_SHM_UPDATED;
            s.busy = block.byte(KELVORA_SHM_JMA_BUSY);
            block.clear(KELVORA_SHM_JMA_UPDATED);
            s.code = block.byte(KELVORA_SHM_JMA_PEAK_CODE); // written after the status
            if (!block.cutShort()) {
                print(s, json);
            }
        }
        if (block.byte(KELVORA_SHM_ENV_UPDATED) == KELVORA_SHM_UPDATED) {
            Environment e;
            e.updated = KELVORA_SHM_UPDATED;
            e.busy = block.byte(KELVORA_SHM_ENV_BUSY);
            block.clear(KELVORA_SHM_ENV_UPDATED);
            readValues(block, e);
            if (block.byte(KELVORA_SHM_ENV_UPDATED) == 0 && !block.cutShort()) {
                print(e, json);
            }
        }
        if (!flushOutput()) {
            return; // nobody gets the lines: stop watching
        }
        if (block.cutShort()) {
            return;
        }
        sleepMilliseconds(2);
    }
}

int fail(const std::string& message) {
    std::fprintf(stderr, "kelvora-shm: %s (try --help)\n", message.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string name = KELVORA_SHM_NAME;
    bool once = false;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--once") {
            once = true;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--name") {
            if (i + 1 >= argc) {
                return fail("option --name needs a value");
            }
            name = argv[++i];
            if (name.empty() || name == "/") {
                return fail("--name needs a block name");
            }
            if (name.front() != '/') {
                name.insert(name.begin(), '/');
            }
        } else if (!arg.empty() && arg.front() == '-') {
            return fail("unknown option '" + arg + "'");
        } else {
            return fail("unexpected argument '" + arg + "'");
        }
    }

    const int fd = ::shm_open(name.c_str(), O_RDWR, 0);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) {
            std::fprintf(stderr, "kelvora-shm: no Kelvora block %s (is the monitor running?)\n",
                         name.c_str());
        } else {
            std::fprintf(stderr, "kelvora-shm: cannot open the block %s: %s\n", name.c_str(),
                         std::strerror(error));
        }
        return 1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size < KELVORA_SHM_SIZE) {
        std::fprintf(stderr, "kelvora-shm: the block %s holds %lld bytes, not %d\n", name.c_str(),
                     static_cast<long long>(info.st_size), KELVORA_SHM_SIZE);
        ::close(fd);
        return 1;
    }
    void* mapped = ::mmap(nullptr, KELVORA_SHM_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    const int mapError = errno;
    ::close(fd);
    if (mapped == MAP_FAILED) {
        std::fprintf(stderr, "kelvora-shm: cannot map the block %s: %s\n", name.c_str(),
                     std::strerror(mapError));
        return 1;
    }
    guardBlock(mapped);
    Block block(static_cast<std::uint8_t*>(mapped));

    if (once) {
        printOnce(block, json);
    } else {
        struct sigaction action {};
        action.sa_handler = onSignal;
        ::sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
        watch(block, json);
    }
    ::munmap(mapped, KELVORA_SHM_SIZE);
    if (block.cutShort()) {
        std::fprintf(stderr, "kelvora-shm: the block %s was cut short by another program\n",
                     name.c_str());
        return 1;
    }
    if (!flushOutput()) {
        std::fprintf(stderr, "kelvora-shm: cannot write to standard output: %s\n",
                     std::strerror(g_outputError));
        return 1;
    }
    return 0;
}
