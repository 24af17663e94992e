# Each library sees the headers of its own folder and of the libraries it
# links, nothing else: a folder's headers are reached through a directory in
# the build that holds only a link to that folder, so "output/X.h" from a
# library that may not use output/ fails to compile.
function(kelvora_folder_headers target folder)
    set(layer ${PROJECT_BINARY_DIR}/layers/${folder})
    if(NOT EXISTS ${layer}/${folder})
        file(MAKE_DIRECTORY ${layer})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${layer}/${folder} SYMBOLIC)
    endif()
    target_include_directories(${target} PUBLIC ${layer})
endfunction()
