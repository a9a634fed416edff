# LAME is loaded at run time with dlopen; only its header is needed to build.
find_path(LAME_INCLUDE_DIR lame/lame.h)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Lame REQUIRED_VARS LAME_INCLUDE_DIR)
if(Lame_FOUND AND NOT TARGET Lame::Headers)
    add_library(Lame::Headers INTERFACE IMPORTED)
    set_target_properties(Lame::Headers PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${LAME_INCLUDE_DIR})
endif()
