# The main and options windows (a library, so that tests drive the real windows) and the program
# trelvix-iphone.
find_package(Qt6 REQUIRED COMPONENTS DBus)  # the finish notification
add_library(trelvix_window STATIC
  ${CMAKE_CURRENT_LIST_DIR}/file_filter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/finish_notifier.cpp
  ${CMAKE_CURRENT_LIST_DIR}/image_control.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_window_progress.cpp
  ${CMAKE_CURRENT_LIST_DIR}/option_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/progress_image.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window_state.cpp)
add_library(trelvix::window ALIAS trelvix_window)
target_include_directories(trelvix_window PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(trelvix_window PUBLIC trelvix::app_widgets trelvix::update trelvix::profile trelvix::encoder
                      trelvix::player trelvix::subtitles trelvix::decoder trelvix::media
                      trelvix::runtime Qt6::Widgets Qt6::DBus PRIVATE trelvix_warnings)

add_executable(trelvix-iphone ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(trelvix-iphone PRIVATE trelvix::window trelvix_warnings)
