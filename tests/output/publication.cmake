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
