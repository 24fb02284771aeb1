# The FFmpeg and SDL2 headers, without their libraries: the loader binds every entry point at
# run time, so nothing links against them. Only the include directories are taken here.
find_package(PkgConfig REQUIRED)
pkg_check_modules(TRELVIX_FFHDR REQUIRED
  libavcodec libavformat libavutil libswscale libswresample libavfilter libavdevice)
pkg_check_modules(TRELVIX_SDLHDR REQUIRED sdl2)

add_library(trelvix_media_headers INTERFACE)
target_include_directories(trelvix_media_headers SYSTEM INTERFACE
  ${TRELVIX_FFHDR_INCLUDE_DIRS} ${TRELVIX_SDLHDR_INCLUDE_DIRS})
target_compile_definitions(trelvix_media_headers INTERFACE __STDC_CONSTANT_MACROS)
