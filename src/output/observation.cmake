# The observation log: one line a minute of the environment readings.
target_sources(kelvora_output PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/ObservationLog.cpp
)
