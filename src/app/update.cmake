# The daily update check and the information page: a library of its own, so that it builds and
# is tested without the window.
add_library(trelvix_update STATIC ${CMAKE_CURRENT_SOURCE_DIR}/update_check.cpp)
add_library(trelvix::update ALIAS trelvix_update)
target_link_libraries(trelvix_update PUBLIC trelvix::runtime trelvix::profile trelvix::subtitles
                      Qt6::Core PRIVATE trelvix_warnings)
