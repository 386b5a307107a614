# Shared build settings for every target of the suite.

include(KvrVersionNote)

# The file version every binary of the suite carries in its ELF note.
set(KVR_FILE_VERSION "${PROJECT_VERSION}.0")

set(KVR_WARNINGS -Wall -Wextra -Wpedantic)
if(DEFINED ENV{CI} AND NOT "$ENV{CI}" STREQUAL "" AND NOT "$ENV{CI}" STREQUAL "false")
  list(APPEND KVR_WARNINGS -Werror)
endif()

# kvr_target_defaults(<target>): warnings, include root, threads.
function(kvr_target_defaults target)
  target_compile_options(${target} PRIVATE ${KVR_WARNINGS})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# kvr_library(<name> SOURCES ... [DEPS ...]): a static library of the suite.
function(kvr_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  kvr_target_defaults(${name})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# kvr_owns_message_boxes(<executable>): the executable's message-box entry point is the one
# every library in the process uses (platform/desktop/message_box.h).
function(kvr_owns_message_boxes target)
  target_link_options(${target} PRIVATE -Wl,--export-dynamic-symbol=kvr_desktop_message_box_v1)
endfunction()

# kvr_program(<name> SOURCES ... [DEPS ...]): an installed program of the suite.
function(kvr_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  kvr_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
  kvr_owns_message_boxes(${name})
  kvr_version_note(${name} ${KVR_FILE_VERSION})
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set_property(GLOBAL APPEND PROPERTY KVR_PROGRAMS ${name})
endfunction()
