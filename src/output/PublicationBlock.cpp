#include "output/PublicationBlock.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvora::publication {

std::uint8_t* mapSharedBlock(const std::string& name) {
    // Opens the block as well when a reader created it first.
    const int fd = ::shm_open(name.c_str(), O_CREAT | O_RDWR, 0600);
    if (fd < 0) {
        return nullptr;
    }
    void* mapped = MAP_FAILED;
    if (::ftruncate(fd, static_cast<off_t>(kSize)) == 0) {
        mapped = ::mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    ::close(fd); // the mapping keeps the object
    return mapped == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(mapped);
}

void unmapSharedBlock(std::uint8_t* block, const std::string& name) {
    ::munmap(block, kSize);
    ::shm_unlink(name.c_str());
}

} // namespace kelvora::publication
