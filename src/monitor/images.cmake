# The window's pictures, drawn by the program: the twenty class images, the
# built-in backgrounds and the file that may replace them, the application
# icon, and the fonts they are drawn with. Needs Qt Gui.
if(KELVORA_QT)
    add_library(kelvora_images STATIC
        ${CMAKE_CURRENT_LIST_DIR}/BackgroundImage.cpp
        ${CMAKE_CURRENT_LIST_DIR}/Fonts.cpp
        ${CMAKE_CURRENT_LIST_DIR}/IntensityImages.cpp
    )
    target_include_directories(kelvora_images PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(kelvora_images PUBLIC kelvora_core kelvora_resources Qt6::Gui)
    qt_add_resources(kelvora_images kelvora_icons
        PREFIX /kelvora
        BASE ${PROJECT_SOURCE_DIR}/res
        FILES
            ${PROJECT_SOURCE_DIR}/res/icons/kelvora-16.png
            ${PROJECT_SOURCE_DIR}/res/icons/kelvora-32.png
            ${PROJECT_SOURCE_DIR}/res/icons/kelvora-48.png
            ${PROJECT_SOURCE_DIR}/res/icons/kelvora-64.png
            ${PROJECT_SOURCE_DIR}/res/icons/kelvora-128.png
            ${PROJECT_SOURCE_DIR}/res/icons/kelvora-256.png
    )
endif()
