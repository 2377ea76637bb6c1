# Signing of the bootstrappers. Included from resources/payload.cmake.
#
#   carryall_sign_command(<name> <in> <out> <out-command> <out-files> <out-targets>
#                         [STRINGS <file>])
#       The command that signs the file <in> into <out> for the bootstrapper <name>.
#   carryall_sign_bootstrapper(<target> [STRINGS <file>])
#       Windows build: signs <target>'s executable as the last step of its build, with
#       tools/sign_exe.py. STRINGS names the overrides file that <target>'s string table
#       is built with (instead of CARRYALL_STRINGS), for the default program name.
#
# Cache variables of the Windows build:
#   CARRYALL_SIGN        ON (default): sign every bootstrapper; OFF: sign none
#   CARRYALL_SIGN_CERT   the signing certificate, PEM. With CARRYALL_SIGN_KEY, its RSA key:
#                        a PEM file without pass phrase, or a pkcs11: URI (RFC 7512) of a
#                        key on a token, with CARRYALL_SIGN_PKCS11_MODULE the token's
#                        PKCS#11 module; the PIN comes from the environment variable
#                        CARRYALL_PKCS11_PIN of the build. Both empty: the development
#                        certificate, made once into ${CMAKE_BINARY_DIR}/signing
#   CARRYALL_SIGN_CHAIN  further certificates to carry in the signature, PEM (optional)
#   CARRYALL_SIGN_COMMAND the publisher's own signing command instead of a key, run
#                        without a shell: {file} for a file it signs in place, or {in}
#                        and {out}; it then sets the program name, link and timestamp
#   CARRYALL_SIGN_TIMESTAMP_URL RFC 3161 time-stamping authorities, a list tried in order
#   CARRYALL_SIGN_NAME   the program name in the signature; empty: the product name,
#                        string 1 of the bootstrapper's string table
#   CARRYALL_SIGN_URL    the more-information link in the signature; empty: none
#
# Set for every build: CARRYALL_SIGN_TOOL (tools/sign_exe.py) and CARRYALL_SIGN_DIR (the
# development certificate's folder: ca.pem, ca.key, leaf.pem, leaf.key; the Windows
# build makes it whichever certificate it signs with).
#
# A change of any of these settings relinks and so re-signs the bootstrappers: each one's
# link depends on a file that records its signing settings, rewritten only when they
# change. A signing failure fails the link step, which deletes the unsigned executable.

include_guard(GLOBAL)

find_package(Python3 REQUIRED COMPONENTS Interpreter)

get_filename_component(CARRYALL_SIGN_TOOL "${CMAKE_CURRENT_LIST_DIR}/../tools/sign_exe.py" ABSOLUTE)
# What the build signs with: the publishers' own command, carryall.py sign.
get_filename_component(CARRYALL_COMMAND "${CMAKE_CURRENT_LIST_DIR}/../tools/carryall.py" ABSOLUTE)
set(CARRYALL_SIGN_DIR "${CMAKE_BINARY_DIR}/signing")

if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  option(CARRYALL_SIGN "Sign every bootstrapper that the build makes" ON)
  set(CARRYALL_SIGN_CERT "" CACHE FILEPATH
      "Signing certificate, PEM (empty, with CARRYALL_SIGN_KEY empty: the development certificate)")
  # A string, not a file path: a pkcs11: URI given on the command line must not be made
  # into a path below the build folder.
  set(CARRYALL_SIGN_KEY "" CACHE STRING
      "Key of CARRYALL_SIGN_CERT: PEM file without pass phrase, or pkcs11: URI (with CARRYALL_SIGN_PKCS11_MODULE)")
  set_property(CACHE CARRYALL_SIGN_KEY PROPERTY TYPE STRING)
  set(CARRYALL_SIGN_PKCS11_MODULE "" CACHE FILEPATH "PKCS#11 module of a pkcs11: CARRYALL_SIGN_KEY")
  set(CARRYALL_SIGN_CHAIN "" CACHE FILEPATH "Further certificates to include in the signature, PEM (optional)")
  set(CARRYALL_SIGN_COMMAND "" CACHE STRING
      "Publisher's signing command instead of a key: {file}, or {in} and {out} (empty: sign_exe.py signs)")
  set(CARRYALL_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamping authorities, a list tried in order")
  set(CARRYALL_SIGN_NAME "" CACHE STRING "Program name in the signature (empty: the product name, string 1)")
  set(CARRYALL_SIGN_URL "" CACHE STRING "More-information link in the signature (empty: none)")
endif()

# The development certificate, target carryall_dev_cert, part of every Windows build
# (also one that signs with another certificate, or not at all) so that the end-to-end
# tests can sign files with it. No DEPENDS: the files are made when they are missing and
# kept otherwise, so every build signs with the same development CA.
function(_carryall_dev_cert)
  if(TARGET carryall_dev_cert)
    return()
  endif()
  set(files "${CARRYALL_SIGN_DIR}/leaf.pem" "${CARRYALL_SIGN_DIR}/leaf.key"
            "${CARRYALL_SIGN_DIR}/ca.pem" "${CARRYALL_SIGN_DIR}/ca.key")
  add_custom_command(
    OUTPUT ${files}
    COMMAND "${Python3_EXECUTABLE}" -B "${CARRYALL_PAYLOAD_SOURCE_DIR}/tools/make_dev_cert.py"
            "${CARRYALL_SIGN_DIR}"
    COMMENT "Making the development signing certificate"
    VERBATIM)
  add_custom_target(carryall_dev_cert ALL DEPENDS ${files})
endfunction()
if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  _carryall_dev_cert()
endif()

function(_carryall_sign_file VARIABLE OUT_VAR)
  if(NOT ${VARIABLE})
    set(${OUT_VAR} "" PARENT_SCOPE)
    return()
  endif()
  get_filename_component(path "${${VARIABLE}}" ABSOLUTE BASE_DIR "${CMAKE_SOURCE_DIR}")
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    message(FATAL_ERROR "${VARIABLE} names ${path}, which is not a file")
  endif()
  set(${OUT_VAR} "${path}" PARENT_SCOPE)
endfunction()

# Checks the settings once and sets in the caller's scope: _carryall_sign_args (the
# certificate arguments of sign_exe.py), _carryall_sign_files (the files they name, which
# the signed links depend on) and _carryall_sign_makers (the target that makes them).
function(_carryall_sign_setup)
  get_property(done GLOBAL PROPERTY CARRYALL_SIGN_ARGS SET)
  if(NOT done)
    if(CARRYALL_SIGN_COMMAND)
      if(CARRYALL_SIGN_CERT OR CARRYALL_SIGN_KEY OR CARRYALL_SIGN_CHAIN OR CARRYALL_SIGN_PKCS11_MODULE)
        message(FATAL_ERROR "CARRYALL_SIGN_COMMAND signs with the publisher's own tool: leave CARRYALL_SIGN_CERT, "
                            "CARRYALL_SIGN_KEY, CARRYALL_SIGN_CHAIN and CARRYALL_SIGN_PKCS11_MODULE empty")
      endif()
      if(CARRYALL_SIGN_TIMESTAMP_URL OR CARRYALL_SIGN_NAME OR CARRYALL_SIGN_URL)
        message(FATAL_ERROR "CARRYALL_SIGN_COMMAND signs with the publisher's own tool: give the timestamp URL, "
                            "program name and link to that command, and leave CARRYALL_SIGN_TIMESTAMP_URL, "
                            "CARRYALL_SIGN_NAME and CARRYALL_SIGN_URL empty")
      endif()
      if(NOT CARRYALL_SIGN_COMMAND MATCHES "{file}|{in}.*{out}|{out}.*{in}")
        message(FATAL_ERROR "CARRYALL_SIGN_COMMAND must name {file}, or both {in} and {out}: ${CARRYALL_SIGN_COMMAND}")
      endif()
      string(REPLACE ";" "$<SEMICOLON>" command_arg "--command=${CARRYALL_SIGN_COMMAND}")
      set_property(GLOBAL PROPERTY CARRYALL_SIGN_ARGS "${command_arg}")
      set_property(GLOBAL PROPERTY CARRYALL_SIGN_FILES "")
      set_property(GLOBAL PROPERTY CARRYALL_SIGN_MAKERS "")
      set_property(GLOBAL PROPERTY CARRYALL_SIGN_OWN_NAME FALSE)
    endif()
  endif()
  get_property(done GLOBAL PROPERTY CARRYALL_SIGN_ARGS SET)
  if(NOT done)
    _carryall_sign_file(CARRYALL_SIGN_CERT cert)
    set(module)
    if(CARRYALL_SIGN_KEY MATCHES "^[Pp][Kk][Cc][Ss]11:")
      set(key "${CARRYALL_SIGN_KEY}")
      _carryall_sign_file(CARRYALL_SIGN_PKCS11_MODULE module)
      if(NOT module)
        message(FATAL_ERROR "CARRYALL_SIGN_KEY is a pkcs11: URI: give the token's PKCS#11 module "
                            "as CARRYALL_SIGN_PKCS11_MODULE")
      endif()
    else()
      if(CARRYALL_SIGN_PKCS11_MODULE)
        message(FATAL_ERROR "CARRYALL_SIGN_PKCS11_MODULE applies to a pkcs11: CARRYALL_SIGN_KEY only")
      endif()
      _carryall_sign_file(CARRYALL_SIGN_KEY key)
    endif()
    _carryall_sign_file(CARRYALL_SIGN_CHAIN chain)
    set(makers)
    if(cert AND NOT key)
      message(FATAL_ERROR "CARRYALL_SIGN_CERT is given but CARRYALL_SIGN_KEY is not: "
                          "give the certificate's private key too, or neither for the development certificate")
    elseif(key AND NOT cert)
      message(FATAL_ERROR "CARRYALL_SIGN_KEY is given but CARRYALL_SIGN_CERT is not: "
                          "give the key's certificate too, or neither for the development certificate")
    elseif(chain AND NOT cert)
      message(FATAL_ERROR "CARRYALL_SIGN_CHAIN is given without CARRYALL_SIGN_CERT and CARRYALL_SIGN_KEY; "
                          "the development certificate carries its own CA")
    endif()
    if(cert)
      set(files "${cert}" ${chain})
      if(module)
        list(APPEND files "${module}")
      else()
        list(APPEND files "${key}")
      endif()
    else()
      set(cert "${CARRYALL_SIGN_DIR}/leaf.pem")
      set(key "${CARRYALL_SIGN_DIR}/leaf.key")
      set(chain "${CARRYALL_SIGN_DIR}/ca.pem")
      set(files)
      set(makers carryall_dev_cert)
    endif()
    # Every value joined to its option: a value that begins with "-" is not an option.
    # A pkcs11: URI separates its attributes with ";", which would split the list.
    string(REPLACE ";" "$<SEMICOLON>" key_arg "--key=${key}")
    set(args "--cert=${cert}" "${key_arg}")
    if(module)
      list(APPEND args "--pkcs11-module=${module}")
    endif()
    if(chain)
      list(APPEND args "--chain=${chain}")
    endif()
    if(CARRYALL_SIGN_URL)
      string(REPLACE ";" "$<SEMICOLON>" url_arg "--url=${CARRYALL_SIGN_URL}")
      list(APPEND args "${url_arg}")
    endif()
    foreach(url IN LISTS CARRYALL_SIGN_TIMESTAMP_URL)
      list(APPEND args "--timestamp=${url}")
    endforeach()
    set_property(GLOBAL PROPERTY CARRYALL_SIGN_OWN_NAME TRUE)
    set_property(GLOBAL PROPERTY CARRYALL_SIGN_ARGS "${args}")
    set_property(GLOBAL PROPERTY CARRYALL_SIGN_FILES "${files}")
    set_property(GLOBAL PROPERTY CARRYALL_SIGN_MAKERS "${makers}")
  endif()
  get_property(args GLOBAL PROPERTY CARRYALL_SIGN_ARGS)
  get_property(files GLOBAL PROPERTY CARRYALL_SIGN_FILES)
  get_property(makers GLOBAL PROPERTY CARRYALL_SIGN_MAKERS)
  get_property(own_name GLOBAL PROPERTY CARRYALL_SIGN_OWN_NAME)
  set(_carryall_sign_own_name "${own_name}" PARENT_SCOPE)
  set(_carryall_sign_args "${args}" PARENT_SCOPE)
  set(_carryall_sign_files "${files}" PARENT_SCOPE)
  set(_carryall_sign_makers "${makers}" PARENT_SCOPE)
endfunction()

# The product name, string 1, of a string table made from the shipped table and the
# overrides file <OVERRIDES> (may be empty). Reading it now makes the files configure
# dependencies, so an edited name re-runs CMake and re-signs.
function(_carryall_product_name OVERRIDES OUT_VAR)
  set(base "${CARRYALL_PAYLOAD_SOURCE_DIR}/resources/strings.txt")
  set(override_args)
  if(OVERRIDES)
    set(override_args --overrides "${OVERRIDES}")
  endif()
  execute_process(
    COMMAND "${Python3_EXECUTABLE}" -B "${CARRYALL_PAYLOAD_SOURCE_DIR}/tools/gen_strings.py"
            --base "${base}" ${override_args} --print 1
    RESULT_VARIABLE status
    OUTPUT_VARIABLE name
    ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "The product name for the signature cannot be read:\n${errors}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${base}" ${OVERRIDES})
  set(${OUT_VAR} "${name}" PARENT_SCOPE)
endfunction()

function(_carryall_write_if_changed PATH CONTENT)
  if(EXISTS "${PATH}")
    file(READ "${PATH}" old)
    if(old STREQUAL CONTENT)
      return()
    endif()
  endif()
  file(WRITE "${PATH}" "${CONTENT}")
endfunction()

# The command that signs the file IN into OUT for the bootstrapper <NAME>, as the settings
# above say: sets <OUT_COMMAND> in the caller's scope to the command's words (empty when
# CARRYALL_SIGN is OFF: nothing signs), <OUT_FILES> to the files it reads besides IN (the
# command depends on them) and <OUT_TARGETS> to the targets that make them. STRINGS names
# the overrides file of <NAME>'s string table (instead of CARRYALL_STRINGS), for the default
# program name. The settings are also recorded in gen/signing/<NAME>.txt, rewritten only
# when they change.
function(carryall_sign_command NAME IN OUT OUT_COMMAND OUT_FILES OUT_TARGETS)
  cmake_parse_arguments(PARSE_ARGV 6 arg "" "STRINGS" "")
  set(settings "${CMAKE_BINARY_DIR}/gen/signing/${NAME}.txt")
  set(${OUT_COMMAND} "" PARENT_SCOPE)
  set(${OUT_FILES} "${settings}" PARENT_SCOPE)
  set(${OUT_TARGETS} "" PARENT_SCOPE)
  if(NOT CARRYALL_SIGN)
    _carryall_write_if_changed("${settings}" "unsigned\n")
    return()
  endif()
  _carryall_sign_setup()

  if(NOT _carryall_sign_own_name)
    set(name_args)
  elseif(CARRYALL_SIGN_NAME)
    set(name "${CARRYALL_SIGN_NAME}")
  elseif(arg_STRINGS)
    get_filename_component(overrides "${arg_STRINGS}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    _carryall_product_name("${overrides}" name)
  elseif(CARRYALL_STRINGS)
    get_filename_component(overrides "${CARRYALL_STRINGS}" ABSOLUTE BASE_DIR "${CMAKE_SOURCE_DIR}")
    _carryall_product_name("${overrides}" name)
  else()
    _carryall_product_name("" name)
  endif()
  if(_carryall_sign_own_name)
    string(REPLACE ";" "$<SEMICOLON>" name_args "--name=${name}")
  endif()

  _carryall_write_if_changed("${settings}" "signed\n${_carryall_sign_args}\n${name_args}\n")
  set(${OUT_COMMAND} "${Python3_EXECUTABLE}" -B "${CARRYALL_COMMAND}" sign "${IN}" "${OUT}"
      ${_carryall_sign_args} ${name_args} PARENT_SCOPE)
  set(${OUT_FILES} "${settings}" ${_carryall_sign_files} PARENT_SCOPE)
  set(${OUT_TARGETS} "${_carryall_sign_makers}" PARENT_SCOPE)
endfunction()

# Signs <TARGET>'s executable in place as the last step of its build.
function(carryall_sign_bootstrapper TARGET)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "STRINGS" "")
  if(NOT WIN32)
    message(FATAL_ERROR "carryall_sign_bootstrapper(${TARGET}): bootstrappers are signed in the Windows build only")
  endif()
  set(strings)
  if(arg_STRINGS)
    set(strings STRINGS "${arg_STRINGS}")
  endif()
  carryall_sign_command(${TARGET} "$<TARGET_FILE:${TARGET}>" "$<TARGET_FILE:${TARGET}>" command files makers
                        ${strings})
  set_property(TARGET ${TARGET} APPEND PROPERTY LINK_DEPENDS ${files})
  if(makers)
    add_dependencies(${TARGET} ${makers})
  endif()
  if(command)
    add_custom_command(TARGET ${TARGET} POST_BUILD COMMAND ${command} COMMENT "Signing ${TARGET}" VERBATIM)
  endif()
endfunction()
