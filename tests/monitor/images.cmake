# The window's pictures off screen, and the backgrounds kelvora-assets writes.
if(KELVORA_QT)
    kelvora_test(kelvora_images_tests
        SOURCES
            ${CMAKE_CURRENT_LIST_DIR}/ImagesTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/RuntimeImagesTest.cpp
        LIBS kelvora_monitor
        LABEL monitor)
    # The generator is run as a child process, as the build runs it.
    target_compile_definitions(kelvora_images_tests PRIVATE
        KELVORA_ASSETS_PATH="$<TARGET_FILE:kelvora-assets>")
    add_dependencies(kelvora_images_tests kelvora-assets)
endif()
