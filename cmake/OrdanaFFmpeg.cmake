# FFmpeg for the media probe's helper program, as the target ordana_ffmpeg
# (an interface library; empty when the probe is built without FFmpeg).
#
# ORDANA_FFMPEG selects where it comes from:
#   bundled  the project's own minimal static build (scripts/build-ffmpeg,
#            run at configure time; cached outside the tree), or the
#            installation in ORDANA_FFMPEG_PREFIX when that is given; the
#            default on every system
#   system   the system's shared libraries, found through pkg-config (for
#            distributions that must link them)
#   off      no FFmpeg: every length the probe would give is 0
set(ORDANA_FFMPEG_DEFAULT bundled)
if(DEFINED ORDANA_WITH_FFMPEG AND NOT ORDANA_WITH_FFMPEG)
  set(ORDANA_FFMPEG_DEFAULT off)  # the older switch still turns it off
endif()
set(ORDANA_FFMPEG ${ORDANA_FFMPEG_DEFAULT} CACHE STRING "Where FFmpeg comes from: bundled, system or off")
set_property(CACHE ORDANA_FFMPEG PROPERTY STRINGS bundled system off)
set(ORDANA_FFMPEG_PREFIX "" CACHE PATH "An installed bundled FFmpeg (default: built by scripts/build-ffmpeg)")

add_library(ordana_ffmpeg INTERFACE)
set(ORDANA_HAVE_FFMPEG OFF)

if(ORDANA_FFMPEG STREQUAL "bundled")
  if(NOT ORDANA_FFMPEG_PREFIX)
    if(WIN32)
      set(_target windows)
    else()
      set(_target linux)
    endif()
    message(STATUS "Building or finding the bundled FFmpeg (${_target}) ...")
    execute_process(
      COMMAND ${PROJECT_SOURCE_DIR}/scripts/build-ffmpeg ${_target}
      OUTPUT_VARIABLE _out RESULT_VARIABLE _rc OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "scripts/build-ffmpeg ${_target} failed (${_rc})")
    endif()
    string(REGEX REPLACE ".*\n" "" _prefix "${_out}")
    set(ORDANA_FFMPEG_PREFIX ${_prefix} CACHE PATH "" FORCE)
  endif()
  # Only the bundled installation's own pkg-config files are looked at.
  # The environment is put back as it was: a variable that was not set is
  # unset again (an empty PKG_CONFIG_LIBDIR would hide every other package).
  foreach(_var PKG_CONFIG_LIBDIR PKG_CONFIG_PATH)
    if(DEFINED ENV{${_var}})
      set(_saved_${_var} "$ENV{${_var}}")
    else()
      unset(_saved_${_var})
    endif()
  endforeach()
  set(ENV{PKG_CONFIG_LIBDIR} "${ORDANA_FFMPEG_PREFIX}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
  pkg_check_modules(FFMPEG_BUNDLED REQUIRED libavformat libavcodec libavutil)
  foreach(_var PKG_CONFIG_LIBDIR PKG_CONFIG_PATH)
    if(DEFINED _saved_${_var})
      set(ENV{${_var}} "${_saved_${_var}}")
    else()
      unset(ENV{${_var}})
    endif()
  endforeach()
  target_include_directories(ordana_ffmpeg SYSTEM INTERFACE ${FFMPEG_BUNDLED_STATIC_INCLUDE_DIRS})
  target_link_libraries(ordana_ffmpeg INTERFACE ${FFMPEG_BUNDLED_STATIC_LDFLAGS})
  set(ORDANA_HAVE_FFMPEG ON)
elseif(ORDANA_FFMPEG STREQUAL "system")
  pkg_check_modules(FFMPEG IMPORTED_TARGET libavformat libavcodec libavutil)
  if(FFMPEG_FOUND)
    target_link_libraries(ordana_ffmpeg INTERFACE PkgConfig::FFMPEG)
    set(ORDANA_HAVE_FFMPEG ON)
  else()
    message(WARNING "FFmpeg development files not found: track lengths will be 0")
  endif()
elseif(NOT ORDANA_FFMPEG STREQUAL "off")
  message(FATAL_ERROR "ORDANA_FFMPEG must be bundled, system or off, not '${ORDANA_FFMPEG}'")
endif()
if(ORDANA_HAVE_FFMPEG)
  target_compile_definitions(ordana_ffmpeg INTERFACE ORDANA_HAVE_FFMPEG=1)
endif()
message(STATUS "FFmpeg for the media probe: ${ORDANA_FFMPEG}")
