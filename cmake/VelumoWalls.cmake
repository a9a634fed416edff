# Two checks on the folders' walls, run by every build.
#
# velumo_library_wall(target): only platform/ includes the libraries'
# headers (FFmpeg, libcdio, FFTW, LAME, SDL). Their include folders are
# also the compiler's own, so nothing would stop a layer above from naming
# one, directly or through a platform header that includes one. Each of
# their headers is therefore shadowed, for every target but platform's, by
# a header of the same name that stops the compile with an #error naming it.
#
# velumo_header_check(target folder headers...): each header compiles on
# its own with nothing but its library's include path: one generated source
# a header, built into an object library beside the layer.

set(VELUMO_WALL_ROOT ${CMAKE_BINARY_DIR}/library-wall)

function(velumo_make_library_wall)
    set(roots ${CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES} ${FFMPEG_INCLUDE_DIRS} ${CDIO_INCLUDE_DIRS}
              ${FFTW_INCLUDE_DIRS} ${LAME_INCLUDE_DIR})
    get_target_property(sdl_dirs SDL2::SDL2 INTERFACE_INCLUDE_DIRECTORIES)
    set(headers)
    foreach(root ${roots})
        file(GLOB_RECURSE found RELATIVE ${root} ${root}/libav*/*.h ${root}/libsw*/*.h
             ${root}/libpostproc/*.h ${root}/cdio/*.h ${root}/lame/*.h ${root}/SDL2/*.h)
        file(GLOB top RELATIVE ${root} ${root}/fftw3*.h)
        list(APPEND headers ${found} ${top})
    endforeach()
    # SDL's own folder is on platform's path, so its headers go by bare name.
    foreach(root ${sdl_dirs})
        if(root AND IS_DIRECTORY ${root})
            file(GLOB bare RELATIVE ${root} ${root}/*.h)
            list(APPEND headers ${bare})
        endif()
    endforeach()
    list(REMOVE_DUPLICATES headers)
    if(NOT headers)
        message(FATAL_ERROR "No library header found to shadow outside platform/")
    endif()
    foreach(header ${headers})
        file(CONFIGURE OUTPUT ${VELUMO_WALL_ROOT}/${header} CONTENT
             "#error \"<${header}> is a library header: only platform/ includes one\"\n")
    endforeach()
endfunction()

function(velumo_library_wall target)
    target_include_directories(${target} BEFORE PRIVATE ${VELUMO_WALL_ROOT})
endfunction()

option(VELUMO_HEADER_CHECK "Compile every header on its own (with the tests)" ON)

function(velumo_header_check target folder)
    if(NOT BUILD_TESTING OR NOT VELUMO_HEADER_CHECK OR VELUMO_SANITIZE)
        return()
    endif()
    set(sources)
    foreach(header ${ARGN})
        file(RELATIVE_PATH name ${CMAKE_CURRENT_SOURCE_DIR} ${header})
        set(source ${CMAKE_BINARY_DIR}/header-check/${name}.cpp)
        # Twice: the second include checks the guard as well.
        file(CONFIGURE OUTPUT ${source} CONTENT "#include \"${name}\"\n#include \"${name}\"\n")
        list(APPEND sources ${source})
    endforeach()
    if(NOT sources)
        return()
    endif()
    add_library(${target}_header_check OBJECT ${sources})
    get_target_property(libraries ${target} LINK_LIBRARIES)
    target_link_libraries(${target}_header_check PRIVATE ${libraries})
    get_target_property(includes ${target} INCLUDE_DIRECTORIES)
    target_include_directories(${target}_header_check PRIVATE ${includes})
    velumo_compile_options(${target}_header_check)
endfunction()
