# Checks of a bootstrapper's image, run after it is linked and its payload packed, and
# before it is signed (tools/check_pe.py says what each one checks and why). Included
# from resources/payload.cmake.
#
#   carryall_post_link_checks(<target>)
#       Windows build: adds the checks to <target>'s build; a failed check fails the link
#       step, which deletes the executable. Call it after the payload is added and before
#       carryall_sign_bootstrapper: POST_BUILD commands run in the order they were added.
#
# CARRYALL_FILE_ALIGNMENT is the file alignment that the bootstrappers are linked with
# (equal to the section alignment, so that the loader maps the image) and that the
# check expects.

include_guard(GLOBAL)

find_package(Python3 REQUIRED COMPONENTS Interpreter)

get_filename_component(CARRYALL_CHECK_PE_TOOL "${CMAKE_CURRENT_LIST_DIR}/../tools/check_pe.py" ABSOLUTE)
set(CARRYALL_FILE_ALIGNMENT 4096)

function(carryall_post_link_checks TARGET)
  if(NOT WIN32)
    message(FATAL_ERROR "carryall_post_link_checks(${TARGET}): bootstrappers are checked in the Windows build only")
  endif()
  add_custom_command(TARGET ${TARGET} POST_BUILD
    COMMAND "${Python3_EXECUTABLE}" -B "${CARRYALL_CHECK_PE_TOOL}" "$<TARGET_FILE:${TARGET}>"
            --file-alignment ${CARRYALL_FILE_ALIGNMENT}
    COMMENT "Checking the image of ${TARGET}"
    VERBATIM)
endfunction()
