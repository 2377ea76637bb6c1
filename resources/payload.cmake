# Build rules for the bootstrapper's payload. Included from the top-level CMakeLists.txt
# with include(resources/payload.cmake), after resources/resources.cmake.
#
#   carryall_add_payload(<target>)        Windows build: packs the payload that
#                                         CARRYALL_PAYLOAD names (or the demo payload)
#                                         into <target>
#   carryall_add_bootstrapper(<name> <list> [STRINGS <file>] [DEPENDS <target>...]
#                             [UNSIGNED])
#                                         Windows build: one more bootstrapper,
#                                         bin/<name>.exe, with the payload of <list>,
#                                         signed as resources/signing.cmake says
#   carryall_add_payload_tool_tests()     ctest entries for tools/gen_payload.py,
#                                         tools/tag_exe.py, tools/sign_exe.py and
#                                         tools/check_pe.py
#
# Cache variables of the Windows build:
#   CARRYALL_PAYLOAD          the payload list (format: tools/gen_payload.py); empty
#                             for the demo payload
#   CARRYALL_DEMO_PAYLOAD_MB  size of the demo payload's install.bin in MiB
#
# A payload list is checked when CMake configures (an error names the list and line;
# sources in the build folder are left to the build, which makes them; a payload too
# large for an image that Windows can map stops CMake with the limit and why), and the
# list is a configure dependency, so editing it re-runs CMake; the build checks it again
# when it generates the manifest and when it packs the payload into the linked program
# (see _carryall_payload). Generated files go to ${CMAKE_BINARY_DIR}/gen/payload/<target>;
# as in resources.cmake the generator rewrites a file only when its content changes and
# touches a stamp file that the later commands depend on.

include_guard(GLOBAL)

find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(CARRYALL_PAYLOAD_SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/..")
get_filename_component(CARRYALL_PAYLOAD_SOURCE_DIR "${CARRYALL_PAYLOAD_SOURCE_DIR}" ABSOLUTE)
set(CARRYALL_PAYLOAD_GENERATOR "${CARRYALL_PAYLOAD_SOURCE_DIR}/tools/gen_payload.py")
set(CARRYALL_DEMO_DIR "${CARRYALL_PAYLOAD_SOURCE_DIR}/resources/demo")
set(CARRYALL_PAYLOAD_GEN_DIR "${CMAKE_BINARY_DIR}/gen/payload")
# Where samples/wizard/CMakeLists.txt puts the sample wizard.
set(CARRYALL_SAMPLE_WIZARD_EXE "${CMAKE_BINARY_DIR}/bin/sample_wizard.exe")

include("${CMAKE_CURRENT_LIST_DIR}/post_link.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/signing.cmake")

if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  set(CARRYALL_PAYLOAD "" CACHE FILEPATH
      "Payload list: id<TAB>file name<TAB>source path[<TAB>manifest size] per line (empty: the demo payload)")
  set(CARRYALL_DEMO_PAYLOAD_MB 64 CACHE STRING
      "Size of the demo payload's install.bin in MiB (1 to 1024)")
endif()

function(_carryall_payload_rc_compiler OUT_VAR)
  set(rc_compiler "${CMAKE_RC_COMPILER}")
  if(NOT rc_compiler)
    find_program(CARRYALL_WINDRES NAMES i686-w64-mingw32-windres windres REQUIRED)
    set(rc_compiler "${CARRYALL_WINDRES}")
  endif()
  set(${OUT_VAR} "${rc_compiler}" PARENT_SCOPE)
endfunction()

# The sample wizard, built in every Windows build; the demo payload carries it.
function(_carryall_add_sample_wizard)
  if(NOT TARGET sample_wizard)
    add_subdirectory("${CARRYALL_PAYLOAD_SOURCE_DIR}/samples/wizard"
                     "${CMAKE_BINARY_DIR}/samples/wizard")
  endif()
endfunction()

# Makes the demo payload's generated files and configures its list. Sets in the
# caller's scope: <OUT_LIST> the list, <OUT_TARGETS> the targets that make its files.
function(_carryall_demo_payload OUT_LIST OUT_TARGETS)
  _carryall_add_sample_wizard()
  if(NOT CARRYALL_DEMO_PAYLOAD_MB MATCHES "^[0-9]+$" OR CARRYALL_DEMO_PAYLOAD_MB LESS 1
     OR CARRYALL_DEMO_PAYLOAD_MB GREATER 1024)
    message(FATAL_ERROR "CARRYALL_DEMO_PAYLOAD_MB must be a whole number from 1 to 1024, "
                        "not '${CARRYALL_DEMO_PAYLOAD_MB}'")
  endif()

  set(dir "${CMAKE_BINARY_DIR}/gen/demo")
  # The size is part of the name: a command line that changes does not make the
  # Makefile generator run a command again, a new output does.
  set(install_bin "${dir}/install-${CARRYALL_DEMO_PAYLOAD_MB}MiB.bin")
  if(NOT TARGET carryall_demo_data)
    set(generator "${CARRYALL_DEMO_DIR}/gen_install_bin.py")
    add_custom_command(
      OUTPUT "${install_bin}"
      COMMAND "${Python3_EXECUTABLE}" "${generator}" --mib "${CARRYALL_DEMO_PAYLOAD_MB}"
              --out "${install_bin}"
      DEPENDS "${generator}"
      COMMENT "Generating the demo payload's install.bin (${CARRYALL_DEMO_PAYLOAD_MB} MiB)"
      VERBATIM)
    add_custom_target(carryall_demo_data DEPENDS "${install_bin}")
  endif()

  set(CARRYALL_DEMO_INSTALL_BIN "${install_bin}")
  set(CARRYALL_DEMO_WIZARD "${CARRYALL_SAMPLE_WIZARD_EXE}")
  configure_file("${CARRYALL_DEMO_DIR}/payload.list.in" "${dir}/payload.list" @ONLY)

  set(${OUT_LIST} "${dir}/payload.list" PARENT_SCOPE)
  set(${OUT_TARGETS} "carryall_demo_data;sample_wizard" PARENT_SCOPE)
endfunction()

# Checks the list now and packs its payload into <TARGET>'s executable after each link.
# Sources in the build folder are taken to be made by the build: they may be missing now,
# and DEPENDS names the targets that make them (the sample wizard is found by itself).
#
# The payload never passes through the resource compiler or the linker, which hold all of
# it in memory (four times over, in the linker's merging of resource sections): the
# linker makes the program with its own resources only, and tools/gen_payload.py --into
# writes the payload into the image's resource section, streaming it from the files, as
# the first step after the link (before the image check and the signature). The target
# carryall_payload_<TARGET> writes the manifest, ${CARRYALL_PAYLOAD_GEN_DIR}/<TARGET>/
# manifest.txt; the link depends on it and on every source, so a source that changes
# (even keeping its size) relinks and repacks.
function(_carryall_payload TARGET LIST)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "DEPENDS")
  if(TARGET carryall_payload_${TARGET})
    message(FATAL_ERROR "A payload for ${TARGET} is already added")
  endif()
  get_filename_component(list "${LIST}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  if(NOT EXISTS "${list}" OR IS_DIRECTORY "${list}")
    message(FATAL_ERROR "The payload list ${list} does not exist")
  endif()

  execute_process(
    COMMAND "${Python3_EXECUTABLE}" -B "${CARRYALL_PAYLOAD_GENERATOR}" --list "${list}" --check
            --generated "${CMAKE_BINARY_DIR}"
    RESULT_VARIABLE status
    OUTPUT_VARIABLE sources
    ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "The payload list ${list} cannot be used:\n${errors}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${list}")
  string(FIND "${sources}" ";" semicolon)
  if(NOT semicolon EQUAL -1)
    message(FATAL_ERROR "The payload list ${list} names a source path with a ';', "
                        "which the build cannot depend on")
  endif()
  string(STRIP "${sources}" sources)
  string(REPLACE "\n" ";" sources "${sources}")
  if(CARRYALL_SAMPLE_WIZARD_EXE IN_LIST sources AND TARGET sample_wizard)
    list(APPEND arg_DEPENDS sample_wizard)
    list(REMOVE_DUPLICATES arg_DEPENDS)
  endif()

  set(dir "${CARRYALL_PAYLOAD_GEN_DIR}/${TARGET}")
  set(manifest "${dir}/manifest.txt")
  set(stamp "${dir}/payload.stamp")
  file(MAKE_DIRECTORY "${dir}")

  add_custom_command(
    OUTPUT "${stamp}"
    BYPRODUCTS "${manifest}"
    COMMAND "${Python3_EXECUTABLE}" -B "${CARRYALL_PAYLOAD_GENERATOR}" --list "${list}"
            --manifest "${manifest}"
    COMMAND "${CMAKE_COMMAND}" -E touch "${stamp}"
    DEPENDS "${list}" "${CARRYALL_PAYLOAD_GENERATOR}" ${sources} ${arg_DEPENDS}
    COMMENT "Generating the payload manifest of ${TARGET}"
    VERBATIM)
  add_custom_target(carryall_payload_${TARGET} DEPENDS "${stamp}")
  if(arg_DEPENDS)
    add_dependencies(carryall_payload_${TARGET} ${arg_DEPENDS})
  endif()
  add_dependencies(${TARGET} carryall_payload_${TARGET})
  set_property(TARGET ${TARGET} APPEND PROPERTY LINK_DEPENDS
               "${stamp}" "${CARRYALL_PAYLOAD_GENERATOR}"
               "${CARRYALL_PAYLOAD_SOURCE_DIR}/tools/pe_resources.py"
               "${CARRYALL_PAYLOAD_SOURCE_DIR}/tools/pe_image.py" ${sources})
  add_custom_command(TARGET ${TARGET} POST_BUILD
    COMMAND "${Python3_EXECUTABLE}" -B "${CARRYALL_PAYLOAD_GENERATOR}" --list "${list}"
            --into "$<TARGET_FILE:${TARGET}>"
    COMMENT "Packing the payload of ${TARGET}"
    VERBATIM)
endfunction()

function(_carryall_link_object TARGET OBJECT)
  set_source_files_properties("${OBJECT}" PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  target_sources(${TARGET} PRIVATE "${OBJECT}")
endfunction()

# Links the payload into <target>: the list that CARRYALL_PAYLOAD names (a relative
# path is taken from the source folder), else the demo payload. The sample wizard is
# added to the build either way.
function(carryall_add_payload TARGET)
  if(NOT WIN32)
    message(FATAL_ERROR "carryall_add_payload(${TARGET}): the payload is packed in the Windows build only")
  endif()
  _carryall_add_sample_wizard()
  set(makers)
  if(CARRYALL_PAYLOAD)
    get_filename_component(list "${CARRYALL_PAYLOAD}" ABSOLUTE BASE_DIR "${CMAKE_SOURCE_DIR}")
    if(NOT EXISTS "${list}")
      message(FATAL_ERROR "CARRYALL_PAYLOAD names ${list}, which does not exist")
    endif()
  else()
    _carryall_demo_payload(list makers)
  endif()
  _carryall_payload(${TARGET} "${list}" DEPENDS ${makers})
endfunction()

# Compiles the main resource script into an object for bootstrapper <NAME>, with the
# string table of the shipped one plus the overrides in <STRINGS> (CARRYALL_STRINGS does
# not apply) or, when <STRINGS> is empty, the build's table; and with the pictures
# <SPLASH> and <BANNER> (BMP files; empty: the build's). Sets <OUT_OBJECT> in the
# caller's scope.
function(_carryall_own_resources NAME STRINGS SPLASH BANNER OUT_OBJECT)
  _carryall_generate_images()
  set(resources "${CARRYALL_PAYLOAD_SOURCE_DIR}/resources")
  set(dir "${CARRYALL_PAYLOAD_GEN_DIR}/${NAME}")
  set(object "${dir}/carryall.res.o")
  file(MAKE_DIRECTORY "${dir}")
  set(stamps "${CARRYALL_IMAGES_STAMP}")
  set(makers carryall_images)

  if(STRINGS)
    get_filename_component(overrides "${STRINGS}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(NOT EXISTS "${overrides}")
      message(FATAL_ERROR "carryall_add_bootstrapper(${NAME}): STRINGS names ${overrides}, which does not exist")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${overrides}")
    set(strings_rc "${dir}/strings.rc")
    set(stamp "${strings_rc}.stamp")
    set(generator "${CARRYALL_PAYLOAD_SOURCE_DIR}/tools/gen_strings.py")
    add_custom_command(
      OUTPUT "${stamp}"
      BYPRODUCTS "${strings_rc}"
      COMMAND "${Python3_EXECUTABLE}" -B "${generator}" --base "${resources}/strings.txt"
              --overrides "${overrides}" --rc "${strings_rc}"
      COMMAND "${CMAKE_COMMAND}" -E touch "${stamp}"
      DEPENDS "${resources}/strings.txt" "${generator}" "${overrides}"
      COMMENT "Generating the string table of ${NAME}"
      VERBATIM)
    list(APPEND stamps "${stamp}")
  else()
    carryall_generate_strings("${CARRYALL_GEN_DIR}/strings.rc" "${CARRYALL_GEN_DIR}/shipped_strings.inc")
    list(APPEND stamps "${CARRYALL_STRINGS_STAMP}")
    list(APPEND makers carryall_strings)
  endif()

  set(pictures)
  foreach(kind IN ITEMS SPLASH BANNER)
    if(${kind})
      string(TOLOWER "${kind}" picture)
      _carryall_own_picture("carryall_add_bootstrapper(${NAME}) ${kind}" "${${kind}}" ${picture}_from)
      list(APPEND pictures ${picture})
    endif()
  endforeach()
  if(pictures)
    _carryall_pictures_command("${dir}" stamp PICTURES ${pictures}
      SPLASH_FROM "${splash_from}" BANNER_FROM "${banner_from}"
      COMMENT "Copying the pictures of ${NAME}")
    list(APPEND stamps "${stamp}")
  endif()

  _carryall_payload_rc_compiler(rc_compiler)
  # This folder comes before the shared one, so that carryall.rc's #include "strings.rc"
  # and its pictures find this bootstrapper's own; the others come from the shared folder.
  add_custom_command(
    OUTPUT "${object}"
    COMMAND "${rc_compiler}" -c 65001 -O coff
            -I "${resources}" -I "${dir}" -I "${CARRYALL_GEN_DIR}"
            -i "${resources}/carryall.rc" -o "${object}"
    DEPENDS "${resources}/carryall.rc" "${resources}/carryall.manifest"
            "${resources}/resource_ids.h" ${stamps}
    WORKING_DIRECTORY "${dir}"
    COMMENT "Compiling the resources of ${NAME}"
    VERBATIM)
  add_custom_target(carryall_resources_${NAME} DEPENDS "${object}")
  add_dependencies(carryall_resources_${NAME} ${makers})
  set(${OUT_OBJECT} "${object}" PARENT_SCOPE)
endfunction()

# Adds the bootstrapper <NAME>, ${CMAKE_BINARY_DIR}/bin/<NAME>.exe: the program of the
# target CarryallInstaller (its sources, libraries, options and resources, copied from
# that target, which must be defined first) with the payload of <LIST> in place of its
# own. With STRINGS <file>, the string table is the shipped one plus the overrides in
# <file>, in the format of CARRYALL_STRINGS; without it, the string table is
# CarryallInstaller's. SPLASH <file> and BANNER <file> are its own pictures (BMP files,
# checked as CARRYALL_SPLASH_BITMAP is; they must exist when CMake runs). Relative paths are taken from the calling CMakeLists.txt's folder.
# The list may name files that the build makes, in the build folder; DEPENDS names the
# targets that make them (not needed for the sample wizard, bin/sample_wizard.exe).
# The payload is packed into the linked program (_carryall_payload), the image is then
# checked (resources/post_link.cmake) and signed like
# CarryallInstaller (its default program name comes from its own string table), unless
# UNSIGNED is given or CARRYALL_SIGN is OFF.
#
#   carryall_add_bootstrapper(<NAME> <LIST> [STRINGS <file>] [SPLASH <file>] [BANNER <file>]
#                             [DEPENDS <target>...] [UNSIGNED])
function(carryall_add_bootstrapper NAME LIST)
  cmake_parse_arguments(PARSE_ARGV 2 arg "UNSIGNED" "STRINGS;SPLASH;BANNER" "DEPENDS")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "carryall_add_bootstrapper(${NAME}): unexpected arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT WIN32)
    message(FATAL_ERROR "carryall_add_bootstrapper(${NAME}): bootstrappers are built in the Windows build only")
  endif()
  if(NOT TARGET CarryallInstaller)
    message(FATAL_ERROR "carryall_add_bootstrapper(${NAME}): define CarryallInstaller first")
  endif()

  get_target_property(core_dir CarryallInstaller SOURCE_DIR)
  get_target_property(core_sources CarryallInstaller SOURCES)
  set(main_resources "${CARRYALL_GEN_DIR}/carryall.res.o")
  set(found_main_resources FALSE)
  set(own_resources FALSE)
  if(arg_STRINGS OR arg_SPLASH OR arg_BANNER)
    set(own_resources TRUE)
  endif()
  set(sources)
  foreach(source IN LISTS core_sources)
    if(NOT source MATCHES "^\\$<" AND NOT IS_ABSOLUTE "${source}")
      set(source "${core_dir}/${source}")
    endif()
    string(FIND "${source}" "${CARRYALL_PAYLOAD_GEN_DIR}/" in_payload_dir)
    if(in_payload_dir EQUAL 0)
      continue()
    endif()
    if(source STREQUAL main_resources)
      set(found_main_resources TRUE)
      if(own_resources)
        continue()
      endif()
    endif()
    list(APPEND sources "${source}")
  endforeach()
  if(own_resources AND NOT found_main_resources)
    message(FATAL_ERROR "carryall_add_bootstrapper(${NAME}): CarryallInstaller does not link "
                        "${main_resources}; cannot replace its resources")
  endif()

  add_executable(${NAME} WIN32 ${sources})
  foreach(property IN ITEMS COMPILE_DEFINITIONS COMPILE_FEATURES COMPILE_OPTIONS
                            INCLUDE_DIRECTORIES LINK_DIRECTORIES LINK_LIBRARIES LINK_OPTIONS)
    get_target_property(value CarryallInstaller ${property})
    if(value)
      set_property(TARGET ${NAME} PROPERTY ${property} "${value}")
    endif()
  endforeach()
  set_target_properties(${NAME} PROPERTIES
    OUTPUT_NAME "${NAME}"
    RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
  get_target_property(core_dependencies CarryallInstaller MANUALLY_ADDED_DEPENDENCIES)
  foreach(dependency IN LISTS core_dependencies)
    if(NOT dependency MATCHES "^carryall_payload_")
      add_dependencies(${NAME} ${dependency})
    endif()
  endforeach()
  foreach(source IN LISTS sources)
    if(source MATCHES "\\.o$")
      set_source_files_properties("${source}" PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
    endif()
  endforeach()

  if(own_resources)
    _carryall_own_resources(${NAME} "${arg_STRINGS}" "${arg_SPLASH}" "${arg_BANNER}" resources_object)
    _carryall_link_object(${NAME} "${resources_object}")
    add_dependencies(${NAME} carryall_resources_${NAME})
  endif()

  _carryall_payload(${NAME} "${LIST}" DEPENDS ${arg_DEPENDS})

  carryall_post_link_checks(${NAME})
  if(NOT arg_UNSIGNED)
    if(arg_STRINGS)
      carryall_sign_bootstrapper(${NAME} STRINGS "${arg_STRINGS}")
    else()
      carryall_sign_bootstrapper(${NAME})
    endif()
  endif()
endfunction()

# Registers the payload tools' own tests with ctest (call after enable_testing()). The
# generator's test also packs a generated script with windres when it is on PATH.
function(carryall_add_payload_tool_tests)
  add_test(NAME gen_payload
           COMMAND "${Python3_EXECUTABLE}" -B "${CARRYALL_PAYLOAD_SOURCE_DIR}/tools/test_gen_payload.py")
  add_test(NAME tag_exe
           COMMAND "${Python3_EXECUTABLE}" -B "${CARRYALL_PAYLOAD_SOURCE_DIR}/tools/test_tag_exe.py")
  add_test(NAME sign_exe
           COMMAND "${Python3_EXECUTABLE}" -B "${CARRYALL_PAYLOAD_SOURCE_DIR}/tools/test_sign_exe.py")
  add_test(NAME check_pe
           COMMAND "${Python3_EXECUTABLE}" -B "${CARRYALL_PAYLOAD_SOURCE_DIR}/tools/test_check_pe.py")
endfunction()
