# The observation log on real files in a temporary folder, its texts from a
# real pipeline.
kelvora_test(kelvora_observation_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/ObservationLogTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/AllocationCounter.cpp
    LIBS kelvora_output
    LABEL output)
