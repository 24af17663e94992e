# The publication block on real POSIX shared memory, driven by the pipeline.
kelvora_test(kelvora_publication_tests
    SOURCES
        PublicationBlockTest.cpp
        PublicationHeaderC99.c
    LIBS kelvora_output
    LABEL output)
# The layout header is for C readers as well.
set_source_files_properties(PublicationHeaderC99.c PROPERTIES COMPILE_OPTIONS "-std=c99")

# kelvora-shm run as a child process against a block the test writes, and the
# whole path from kelvora-sim through reception and the block to kelvora-shm.
kelvora_test(kelvora_publication_tool_tests
    SOURCES
        ShmToolTest.cpp
        PublicationEndToEndTest.cpp
    LIBS kelvora_output kelvora_link
    LABEL output)
target_compile_definitions(kelvora_publication_tool_tests PRIVATE
    KELVORA_SHM_PATH="$<TARGET_FILE:kelvora-shm>"
    KELVORA_SIM_PATH="$<TARGET_FILE:kelvora-sim>")
add_dependencies(kelvora_publication_tool_tests kelvora-shm kelvora-sim)

# The README's C reader example, built as a user builds it (plain C99, no
# warnings), run against a block the test publishes into; the test also checks
# that the README shows this very file.
add_executable(kelvora_shm_read ${PROJECT_SOURCE_DIR}/docs/examples/kelvora_shm_read.c)
target_include_directories(kelvora_shm_read PRIVATE ${PROJECT_SOURCE_DIR}/include)
set_target_properties(kelvora_shm_read PROPERTIES
    C_STANDARD 99 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_compile_options(kelvora_shm_read PRIVATE -Wall -Wextra -Werror)
# shm_open moved from librt into libc with glibc 2.34.
include(CheckSymbolExists)
check_symbol_exists(shm_open "sys/mman.h" KELVORA_SHM_OPEN_IN_LIBC)
if(NOT KELVORA_SHM_OPEN_IN_LIBC)
    target_link_libraries(kelvora_shm_read PRIVATE rt)
endif()
kelvora_test(kelvora_shm_example_tests
    SOURCES ShmReadExampleTest.cpp
    LIBS kelvora_output
    LABEL output)
target_compile_definitions(kelvora_shm_example_tests PRIVATE
    KELVORA_SHM_READ_EXAMPLE="$<TARGET_FILE:kelvora_shm_read>"
    KELVORA_SHM_READ_EXAMPLE_SOURCE="${PROJECT_SOURCE_DIR}/docs/examples/kelvora_shm_read.c"
    KELVORA_README="${PROJECT_SOURCE_DIR}/README.md")
add_dependencies(kelvora_shm_example_tests kelvora_shm_read)
