# The window's pictures, drawn by the program (the twenty class images, the
# built-in backgrounds and the file that may replace them, the application
# icon, and the fonts they are drawn with), and the instrument face with its
# periodic update and keys. Needs Qt.
if(KELVORA_QT)
    add_library(kelvora_monitor STATIC
        ${CMAKE_CURRENT_LIST_DIR}/BackgroundImage.cpp
        ${CMAKE_CURRENT_LIST_DIR}/Fonts.cpp
        ${CMAKE_CURRENT_LIST_DIR}/IntensityImages.cpp
        ${CMAKE_CURRENT_LIST_DIR}/KeyboardShortcuts.cpp
        ${CMAKE_CURRENT_LIST_DIR}/MonitorFace.cpp
        ${CMAKE_CURRENT_LIST_DIR}/PeriodicUpdate.cpp
    )
    set_target_properties(kelvora_monitor PROPERTIES AUTOMOC ON)
    kelvora_folder_headers(kelvora_monitor monitor)
    target_link_libraries(kelvora_monitor
        PUBLIC kelvora_link kelvora_output kelvora_settings_resources Qt6::Widgets)
    qt_add_resources(kelvora_monitor kelvora_icons
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
