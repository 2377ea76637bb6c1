# Build rules for the bootstrapper's payload. Included from the top-level CMakeLists.txt
# with include(resources/payload.cmake), after resources/resources.cmake.
#
#   carryall_add_main_bootstrapper()      Windows build: CarryallInstaller, the payload
#                                         that CARRYALL_PAYLOAD names (or the demo payload)
#   carryall_add_bootstrapper(<name> <list> [options...])
#                                         Windows build: one more bootstrapper,
#                                         bin/<name>.exe: the stub packed with the payload
#                                         of <list> by tools/carryall.py, then signed as
#                                         resources/signing.cmake says
#   carryall_add_payload_tool_tests()     ctest entries for tools/gen_payload.py,
#                                         tools/tag_exe.py, tools/sign_exe.py,
#                                         tools/check_pe.py and tools/carryall.py
#
# Cache variables of the Windows build:
#   CARRYALL_PAYLOAD          the payload list (format: tools/gen_payload.py); empty
#                             for the demo payload
#   CARRYALL_DEMO_PAYLOAD_MB  size of the demo payload's install.bin in MiB
#   CARRYALL_ICON             the program's icon, an .ico file (empty: the stub's)
#   CARRYALL_VERSION          the version resource's file and product version, A.B.C.D
#   CARRYALL_COMPANY, CARRYALL_PRODUCT, CARRYALL_DESCRIPTION, CARRYALL_COPYRIGHT
#                             its texts (empty: the stub's; the product name then
#                             defaults to string 1)
# and those of resources/resources.cmake (strings, pictures, .NET) and signing.cmake.
#
# Every bootstrapper is the stub, bin/carryall-stub.exe (the program with the shipped
# strings, pictures, icon and version and no payload), packed by tools/carryall.py pack
# exactly as a publisher packs it: what the tests prove is what a publisher gets. A
# payload list is checked when CMake configures (an error names the list and line;
# sources in the build folder are left to the build, which makes them), and the list is
# a configure dependency, so editing it re-runs CMake. Generated files go to
# ${CMAKE_BINARY_DIR}/gen/payload/<name>.

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
  set(CARRYALL_ICON "" CACHE FILEPATH "The program's icon, an .ico file (empty: the drawn one)")
  set(CARRYALL_VERSION "" CACHE STRING "File and product version of the bootstrapper, A.B.C.D (empty: the stub's)")
  set(CARRYALL_COMPANY "" CACHE STRING "Company name of the version resource (empty: the stub's)")
  set(CARRYALL_PRODUCT "" CACHE STRING "Product name of the version resource (empty: string 1)")
  set(CARRYALL_DESCRIPTION "" CACHE STRING "File description of the version resource (empty: the stub's)")
  set(CARRYALL_COPYRIGHT "" CACHE STRING "Copyright of the version resource (empty: the stub's)")
endif()

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

# The files of the packer: tools/carryall.py and every module of tools/ that it imports
# (cmake/carryall_modules.py finds them). Sets CARRYALL_PACKER to carryall.py and
# CARRYALL_PACKER_FILES to the list, read once per configure.
function(_carryall_packer_files)
  get_property(files GLOBAL PROPERTY CARRYALL_PACKER_FILES)
  if(NOT files)
    execute_process(
      COMMAND "${Python3_EXECUTABLE}" -B "${CARRYALL_PAYLOAD_SOURCE_DIR}/cmake/carryall_modules.py"
              "${CARRYALL_PACKER}"
      RESULT_VARIABLE status
      OUTPUT_VARIABLE files
      ERROR_VARIABLE errors)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "The modules of ${CARRYALL_PACKER} cannot be listed:\n${errors}")
    endif()
    string(STRIP "${files}" files)
    string(REPLACE "\n" ";" files "${files}")
    set_property(GLOBAL PROPERTY CARRYALL_PACKER_FILES "${files}")
    set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${files})
  endif()
  set(CARRYALL_PACKER_FILES "${files}" PARENT_SCOPE)
endfunction()
set(CARRYALL_PACKER "${CARRYALL_PAYLOAD_SOURCE_DIR}/tools/carryall.py")

# An input file of a bootstrapper, named by <WHAT> (for the message): its absolute path
# (relative paths from the calling CMakeLists.txt's folder) in <OUT_VAR>; a missing file
# stops CMake.
function(_carryall_input_file WHAT VALUE BASE OUT_VAR)
  get_filename_component(path "${VALUE}" ABSOLUTE BASE_DIR "${BASE}")
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    message(FATAL_ERROR "${WHAT} names ${path}, which is not a file")
  endif()
  set(${OUT_VAR} "${path}" PARENT_SCOPE)
endfunction()

# Adds the bootstrapper <NAME>: target <NAME> makes ${CMAKE_BINARY_DIR}/bin/<NAME>.exe by
# packing the stub (target carryall_stub, bin/carryall-stub.exe) with tools/carryall.py
# pack, the way a publisher makes one, then checking the image (resources/post_link.cmake)
# and signing it (resources/signing.cmake) unless UNSIGNED is given or CARRYALL_SIGN is OFF.
#
#   carryall_add_bootstrapper(<NAME> <LIST> [STRINGS <file>] [SPLASH <file>] [BANNER <file>]
#                             [ICON <file>] [VERSION <a.b.c.d>] [COMPANY <text>]
#                             [PRODUCT <text>] [DESCRIPTION <text>] [COPYRIGHT <text>]
#                             [LANGUAGES <tag>=<file>...] [DEPENDS <target>...] [UNSIGNED])
#
# <LIST> is the payload list (format: tools/gen_payload.py), checked now: an error names
# the list and the line; sources in the build folder are taken to be made by the build
# (DEPENDS names the targets that make them; the sample wizard is found by itself). Every
# option is the pack option of the same name; one that is not given takes the build's cache
# variable (CARRYALL_STRINGS, CARRYALL_SPLASH_BITMAP, CARRYALL_BANNER_BITMAP, CARRYALL_ICON,
# CARRYALL_VERSION, CARRYALL_COMPANY, CARRYALL_PRODUCT, CARRYALL_DESCRIPTION,
# CARRYALL_COPYRIGHT), and CARRYALL_REQUIRE_DOTNET=OFF adds --no-dotnet. Relative paths are
# taken from the calling CMakeLists.txt's folder.
#
# The command depends on the stub, the packer's files, the list, every source and every
# input file, and CMake reruns it when its command line changes (a setting); so a changed
# input re-packs and re-signs that bootstrapper and nothing else. It packs into
# gen/pack/<NAME>/ and only the signed (or checked) file becomes bin/<NAME>.exe: a failed
# step leaves no bootstrapper behind, and the next build tries again.
function(carryall_add_bootstrapper NAME LIST)
  cmake_parse_arguments(PARSE_ARGV 2 arg "UNSIGNED"
    "STRINGS;SPLASH;BANNER;ICON;VERSION;COMPANY;PRODUCT;DESCRIPTION;COPYRIGHT" "LANGUAGES;DEPENDS")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "carryall_add_bootstrapper(${NAME}): unexpected arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT WIN32)
    message(FATAL_ERROR "carryall_add_bootstrapper(${NAME}): bootstrappers are built in the Windows build only")
  endif()
  if(NOT TARGET carryall_stub)
    message(FATAL_ERROR "carryall_add_bootstrapper(${NAME}): define carryall_stub first")
  endif()
  if(TARGET ${NAME})
    message(FATAL_ERROR "carryall_add_bootstrapper(${NAME}): a target of that name exists")
  endif()
  _carryall_add_sample_wizard()
  _carryall_packer_files()
  set(here "${CMAKE_CURRENT_SOURCE_DIR}")
  set(what "carryall_add_bootstrapper(${NAME})")

  # The payload list.
  get_filename_component(list "${LIST}" ABSOLUTE BASE_DIR "${here}")
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
  if(CARRYALL_SAMPLE_WIZARD_EXE IN_LIST sources)
    list(APPEND arg_DEPENDS sample_wizard)
    list(REMOVE_DUPLICATES arg_DEPENDS)
  endif()

  # The pack options: this bootstrapper's own, else the build's.
  set(options)
  set(inputs)
  foreach(pair IN ITEMS STRINGS:CARRYALL_STRINGS SPLASH:CARRYALL_SPLASH_BITMAP
                        BANNER:CARRYALL_BANNER_BITMAP ICON:CARRYALL_ICON)
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 key)
    list(GET pair 1 variable)
    string(TOLOWER "${key}" option)
    if(arg_${key})
      _carryall_input_file("${what} ${key}" "${arg_${key}}" "${here}" path)
    elseif(${variable})
      _carryall_input_file("${variable}" "${${variable}}" "${CMAKE_SOURCE_DIR}" path)
    else()
      continue()
    endif()
    if(key STREQUAL "SPLASH" OR key STREQUAL "BANNER")
      _carryall_own_picture("${what} ${key}" "${path}" path)
    endif()
    list(APPEND options --${option} "${path}")
    list(APPEND inputs "${path}")
  endforeach()
  foreach(key IN ITEMS VERSION COMPANY PRODUCT DESCRIPTION COPYRIGHT)
    string(TOLOWER "${key}" option)
    if(DEFINED arg_${key})
      set(value "${arg_${key}}")
    else()
      set(value "${CARRYALL_${key}}")
    endif()
    if(NOT value STREQUAL "")
      list(APPEND options --${option} "${value}")
    endif()
  endforeach()
  foreach(language IN LISTS arg_LANGUAGES)
    if(NOT language MATCHES "^([^=]+)=(.+)$")
      message(FATAL_ERROR "${what}: LANGUAGES takes <tag>=<file>, not '${language}'")
    endif()
    set(tag "${CMAKE_MATCH_1}")
    _carryall_input_file("${what} LANGUAGES ${tag}" "${CMAKE_MATCH_2}" "${here}" path)
    list(APPEND options --language "${tag}=${path}")
    list(APPEND inputs "${path}")
  endforeach()
  if(NOT CARRYALL_REQUIRE_DOTNET)
    list(APPEND options --no-dotnet)
  endif()

  set(dir "${CARRYALL_PAYLOAD_GEN_DIR}/${NAME}")
  set(packed "${dir}/packed.exe")
  set(exe "${CMAKE_BINARY_DIR}/bin/${NAME}.exe")
  file(MAKE_DIRECTORY "${dir}")

  set(sign_command)
  set(sign_files)
  set(sign_makers)
  if(NOT arg_UNSIGNED)
    set(strings)
    if(arg_STRINGS)
      set(strings STRINGS "${arg_STRINGS}")
    endif()
    carryall_sign_command(${NAME} "${packed}" "${exe}" sign_command sign_files sign_makers ${strings})
  endif()
  if(NOT sign_command)
    set(sign_command "${CMAKE_COMMAND}" -E rename "${packed}" "${exe}")
  endif()

  add_custom_command(
    OUTPUT "${exe}"
    COMMAND "${CMAKE_COMMAND}" -E rm -f "${exe}" "${packed}"
    COMMAND "${Python3_EXECUTABLE}" -B "${CARRYALL_PACKER}" pack --stub "$<TARGET_FILE:carryall_stub>"
            --payload "${list}" -o "${packed}" ${options}
    COMMAND "${Python3_EXECUTABLE}" -B "${CARRYALL_CHECK_PE_TOOL}" "${packed}"
            --file-alignment ${CARRYALL_FILE_ALIGNMENT}
    COMMAND ${sign_command}
    COMMAND "${CMAKE_COMMAND}" -E rm -f "${packed}"
    DEPENDS "$<TARGET_FILE:carryall_stub>" "${list}" ${sources} ${inputs}
            ${CARRYALL_PACKER_FILES} "${CARRYALL_CHECK_PE_TOOL}" ${sign_files} ${arg_DEPENDS}
    COMMENT "Packing the bootstrapper ${NAME}"
    VERBATIM)
  add_custom_target(${NAME} ALL DEPENDS "${exe}")
  get_target_property(imported carryall_stub IMPORTED)
  if(NOT imported)
    add_dependencies(${NAME} carryall_stub)
  endif()
  if(sign_makers OR arg_DEPENDS)
    add_dependencies(${NAME} ${sign_makers} ${arg_DEPENDS})
  endif()
  set_target_properties(${NAME} PROPERTIES CARRYALL_EXE "${exe}")
endfunction()

# The bootstrapper of the build, CarryallInstaller (bin/CarryallInstaller.exe): the list
# that CARRYALL_PAYLOAD names (a relative path is taken from the source folder), else the
# demo payload, packed with the build's settings.
function(carryall_add_main_bootstrapper)
  set(makers)
  if(CARRYALL_PAYLOAD)
    get_filename_component(list "${CARRYALL_PAYLOAD}" ABSOLUTE BASE_DIR "${CMAKE_SOURCE_DIR}")
    if(NOT EXISTS "${list}")
      message(FATAL_ERROR "CARRYALL_PAYLOAD names ${list}, which does not exist")
    endif()
  else()
    _carryall_demo_payload(list makers)
  endif()
  carryall_add_bootstrapper(CarryallInstaller "${list}" DEPENDS ${makers})
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
  add_test(NAME carryall
           COMMAND "${Python3_EXECUTABLE}" -B "${CARRYALL_PAYLOAD_SOURCE_DIR}/tools/test_carryall.py")
endfunction()
