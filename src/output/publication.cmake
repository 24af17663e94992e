# The shared-memory publication block. Its layout header lives in include/ for
# readers in other programs; the block's writer uses the same offsets.
target_sources(kelvora_output PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/PublicationBlock.cpp
)
target_include_directories(kelvora_output PUBLIC ${PROJECT_SOURCE_DIR}/include)
# shm_open moved from librt into libc with glibc 2.34.
include(CheckSymbolExists)
check_symbol_exists(shm_open "sys/mman.h" KELVORA_SHM_OPEN_IN_LIBC)
if(NOT KELVORA_SHM_OPEN_IN_LIBC)
    target_link_libraries(kelvora_output PRIVATE rt)
endif()
