# Build rules for the bootstrapper's resources. Included from the top-level
# CMakeLists.txt with include(resources/resources.cmake).
#
#   carryall_generate_strings(<out-rc> <out-inc>)
#   carryall_add_resources(<target>)      Windows build: links the compiled resources
#   carryall_host_strings(<target>)       lets <target> #include "shipped_strings.inc"
#   carryall_add_generator_tests()        ctest entries for the generators in tools/
#
# Cache variables: CARRYALL_STRINGS (string-table overrides), CARRYALL_SPLASH_BITMAP and
# CARRYALL_BANNER_BITMAP (the splash's and the banner's own pictures, BMP files that CMake
# checks). The presets set each of them, empty by default, at every configure. In the
# host build the overrides go into the simulated program's table; the Windows build
# compiles the shipped strings and the drawn pictures into the stub, and
# resources/payload.cmake hands the cache variables to the packer instead.
#
# Generated files go to ${CMAKE_BINARY_DIR}/gen/resources. The generators rewrite a
# file only when its content changes; each command touches a stamp file, and the
# commands that consume generated files depend on the stamps, because the Makefile
# generator has no rule for a file that is only a by-product.

include_guard(GLOBAL)

find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(CARRYALL_STRINGS "" CACHE FILEPATH
    "Overrides for the shipped string table, in the format of resources/strings.txt (empty: none)")
set(CARRYALL_SPLASH_BITMAP "" CACHE FILEPATH "The splash's own picture, a BMP file (empty: the drawn one)")
set(CARRYALL_BANNER_BITMAP "" CACHE FILEPATH "The report's own banner, a BMP file (empty: the drawn one)")

option(CARRYALL_REQUIRE_DOTNET
       "The wizard needs a .NET Framework: OFF skips the .NET detection (setting 202 = 0)" ON)

set(CARRYALL_RESOURCES_DIR "${CMAKE_CURRENT_LIST_DIR}")
get_filename_component(CARRYALL_TOOLS_DIR "${CMAKE_CURRENT_LIST_DIR}/../tools" ABSOLUTE)
set(CARRYALL_GEN_DIR "${CMAKE_BINARY_DIR}/gen/resources")
file(MAKE_DIRECTORY "${CARRYALL_GEN_DIR}")

# Adds the command that writes the STRINGTABLE fragment <out-rc> and the C++ table
# <out-inc> from resources/strings.txt and, when CARRYALL_STRINGS names a file, its
# overrides; and the target carryall_strings that runs it. Sets
# CARRYALL_STRINGS_STAMP in the caller's scope: custom commands that read either
# output depend on that file and on the target. The command is made once per build
# tree; a second call with the same outputs only sets the variable.
function(carryall_generate_strings OUT_RC OUT_INC)
  get_filename_component(out_rc "${OUT_RC}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  get_filename_component(out_inc "${OUT_INC}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  set(stamp "${out_rc}.stamp")

  if(TARGET carryall_strings)
    get_property(made GLOBAL PROPERTY CARRYALL_STRINGS_OUTPUTS)
    if(NOT made STREQUAL "${out_rc};${out_inc}")
      message(FATAL_ERROR "carryall_generate_strings: already generating ${made}; "
                          "cannot also generate ${out_rc};${out_inc}")
    endif()
    set(CARRYALL_STRINGS_STAMP "${stamp}" PARENT_SCOPE)
    return()
  endif()

  set(base "${CARRYALL_RESOURCES_DIR}/strings.txt")
  set(generator "${CARRYALL_TOOLS_DIR}/gen_strings.py")
  set(override_args)
  set(override_deps)
  if(CARRYALL_STRINGS AND NOT WIN32)
    get_filename_component(overrides "${CARRYALL_STRINGS}" ABSOLUTE BASE_DIR "${CMAKE_SOURCE_DIR}")
    if(NOT EXISTS "${overrides}")
      message(FATAL_ERROR "CARRYALL_STRINGS names ${overrides}, which does not exist")
    endif()
    set(override_args --overrides "${overrides}")
    set(override_deps "${overrides}")
  endif()
  if(NOT CARRYALL_REQUIRE_DOTNET AND NOT WIN32)
    list(APPEND override_args --set 202=0)
  endif()

  add_custom_command(
    OUTPUT "${stamp}"
    BYPRODUCTS "${out_rc}" "${out_inc}"
    COMMAND "${Python3_EXECUTABLE}" "${generator}" --base "${base}" ${override_args}
            --rc "${out_rc}" --cpp "${out_inc}"
    COMMAND "${CMAKE_COMMAND}" -E touch "${stamp}"
    DEPENDS "${base}" "${generator}" ${override_deps}
    COMMENT "Generating the string table"
    VERBATIM)
  add_custom_target(carryall_strings DEPENDS "${stamp}")
  set_property(GLOBAL PROPERTY CARRYALL_STRINGS_OUTPUTS "${out_rc};${out_inc}")
  set(CARRYALL_STRINGS_STAMP "${stamp}" PARENT_SCOPE)
endfunction()

# A picture of the user's own, named by VARIABLE (its value VALUE; empty: none), checked
# now so that a file Windows cannot load stops CMake with the reason. Sets OUT_VAR to its
# absolute path, or to "". The file is a configure dependency: an edited picture is
# checked again.
function(_carryall_own_picture VARIABLE VALUE OUT_VAR)
  set(${OUT_VAR} "" PARENT_SCOPE)
  if(NOT VALUE)
    return()
  endif()
  get_filename_component(path "${VALUE}" ABSOLUTE BASE_DIR "${CMAKE_SOURCE_DIR}")
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    message(FATAL_ERROR "${VARIABLE} names ${path}, which is not a file")
  endif()
  execute_process(
    COMMAND "${Python3_EXECUTABLE}" -B "${CARRYALL_TOOLS_DIR}/gen_images.py" --check "${path}"
    RESULT_VARIABLE status
    OUTPUT_QUIET
    ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    string(REGEX REPLACE "^gen_images.py: error: " "" errors "${errors}")
    message(FATAL_ERROR "${VARIABLE} is not a BMP file that Windows can show:\n${errors}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
  set(${OUT_VAR} "${path}" PARENT_SCOPE)
endfunction()

# The command that writes into DIR the pictures that tools/gen_images.py draws or copies:
# PICTURES are "splash", "banner" and "icon" words; SPLASH_FROM and BANNER_FROM are
# checked pictures of the user's own (may be empty). Sets <OUT_STAMP> in the caller's
# scope to the stamp file that the command touches.
function(_carryall_pictures_command DIR OUT_STAMP)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "SPLASH_FROM;BANNER_FROM;COMMENT" "PICTURES")
  set(generator "${CARRYALL_TOOLS_DIR}/gen_images.py")
  set(args)
  set(outputs)
  set(sources)
  foreach(picture IN LISTS arg_PICTURES)
    set(file "${picture}.bmp")
    if(picture STREQUAL "icon")
      set(file "carryall.ico")
    endif()
    list(APPEND args --${picture} "${DIR}/${file}")
    list(APPEND outputs "${DIR}/${file}")
  endforeach()
  if(arg_SPLASH_FROM)
    list(APPEND args --splash-from "${arg_SPLASH_FROM}")
    list(APPEND sources "${arg_SPLASH_FROM}")
  endif()
  if(arg_BANNER_FROM)
    list(APPEND args --banner-from "${arg_BANNER_FROM}")
    list(APPEND sources "${arg_BANNER_FROM}")
  endif()
  # A picture of one's own that comes or goes changes only the command line: CMake's
  # Makefile generator then removes the stamp (it keeps a hash of every rule), so the
  # command runs again; tests/build/test_reconfigure.py shows it.
  set(stamp "${DIR}/pictures.stamp")
  add_custom_command(
    OUTPUT "${stamp}"
    BYPRODUCTS ${outputs}
    COMMAND "${Python3_EXECUTABLE}" -B "${generator}" ${args}
    COMMAND "${CMAKE_COMMAND}" -E touch "${stamp}"
    DEPENDS "${generator}" ${sources}
    COMMENT "${arg_COMMENT}"
    VERBATIM)
  set(${OUT_STAMP} "${stamp}" PARENT_SCOPE)
endfunction()

# Splash, banner and icon of the stub, drawn by tools/gen_images.py (a bootstrapper's
# own pictures are packed into it). Target carryall_images; stamp in CARRYALL_IMAGES_STAMP.
function(_carryall_generate_images)
  set(CARRYALL_IMAGES_STAMP "${CARRYALL_GEN_DIR}/pictures.stamp" PARENT_SCOPE)
  if(TARGET carryall_images)
    return()
  endif()
  _carryall_pictures_command("${CARRYALL_GEN_DIR}" stamp PICTURES splash banner icon
    COMMENT "Making the splash, banner and icon")
  add_custom_target(carryall_images DEPENDS "${stamp}")
endfunction()

# Compiles resources/carryall.rc with the shipped string table, pictures and icon
# into one COFF object and links it into <target>; also puts resources/ on the
# target's include path for resource_ids.h. Windows build only. The object is built
# once, by the target carryall_resources, however many targets link it.
function(carryall_add_resources TARGET)
  if(NOT WIN32)
    message(FATAL_ERROR "carryall_add_resources(${TARGET}): resources are compiled for the Windows build only")
  endif()

  carryall_generate_strings("${CARRYALL_GEN_DIR}/strings.rc" "${CARRYALL_GEN_DIR}/shipped_strings.inc")
  _carryall_generate_images()

  set(object "${CARRYALL_GEN_DIR}/carryall.res.o")
  if(NOT TARGET carryall_resources)
    set(rc_compiler "${CMAKE_RC_COMPILER}")
    if(NOT rc_compiler)
      find_program(CARRYALL_WINDRES NAMES i686-w64-mingw32-windres windres REQUIRED)
      set(rc_compiler "${CARRYALL_WINDRES}")
    endif()
    add_custom_command(
      OUTPUT "${object}"
      COMMAND "${rc_compiler}" -c 65001 -O coff
              -I "${CARRYALL_RESOURCES_DIR}" -I "${CARRYALL_GEN_DIR}"
              -i "${CARRYALL_RESOURCES_DIR}/carryall.rc" -o "${object}"
      DEPENDS "${CARRYALL_RESOURCES_DIR}/carryall.rc"
              "${CARRYALL_RESOURCES_DIR}/carryall.manifest"
              "${CARRYALL_RESOURCES_DIR}/resource_ids.h"
              "${CARRYALL_STRINGS_STAMP}" "${CARRYALL_IMAGES_STAMP}"
      WORKING_DIRECTORY "${CARRYALL_GEN_DIR}"
      COMMENT "Compiling the resources"
      VERBATIM)
    add_custom_target(carryall_resources DEPENDS "${object}")
    # The stamps are made by these targets; ordering them first keeps their commands
    # from running twice in a parallel build.
    add_dependencies(carryall_resources carryall_strings carryall_images)
  endif()

  set_source_files_properties("${object}" PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  target_sources(${TARGET} PRIVATE "${object}")
  target_include_directories(${TARGET} PRIVATE "${CARRYALL_RESOURCES_DIR}")
  add_dependencies(${TARGET} carryall_resources)
endfunction()

# Host build: generates shipped_strings.inc and puts its folder (and resources/, for
# resource_ids.h) on <target>'s include path, so that C++ can write
#   const Entry kTable[] = {
#   #include "shipped_strings.inc"
#   };
# with Entry an aggregate of an integer id and a const char16_t* text.
function(carryall_host_strings TARGET)
  carryall_generate_strings("${CARRYALL_GEN_DIR}/strings.rc" "${CARRYALL_GEN_DIR}/shipped_strings.inc")
  target_include_directories(${TARGET} PRIVATE "${CARRYALL_GEN_DIR}" "${CARRYALL_RESOURCES_DIR}")
  add_dependencies(${TARGET} carryall_strings)
endfunction()

# Registers the generators' own tests with ctest (call after enable_testing()). The
# string test also compiles the generated table with windres and the host C++
# compiler when they are on PATH.
function(carryall_add_generator_tests)
  add_test(NAME gen_strings COMMAND "${Python3_EXECUTABLE}" -B "${CARRYALL_TOOLS_DIR}/test_gen_strings.py")
  add_test(NAME gen_images COMMAND "${Python3_EXECUTABLE}" -B "${CARRYALL_TOOLS_DIR}/test_gen_images.py")
endfunction()
