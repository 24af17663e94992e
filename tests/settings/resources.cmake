# The per-language resources of res/ and the current language (Qt Core only).
kelvora_test(kelvora_resources_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/ResourcesTest.cpp
    LIBS kelvora_settings_resources
    LABEL settings)
