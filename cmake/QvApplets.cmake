# Applets assembled from qvasm text at build time, and end-to-end tests that run them.
#
# qv_add_applet(<name> <source.qvasm> [COMPRESS] [LINK_INTO <player target>] [DEPENDS <file>...])
#   Target <name> (built by default) assembles the source with the qvasm CLI into
#   <current binary dir>/<name>.qva, or <name>.qvz with COMPRESS; with LINK_INTO the output is
#   <name>-player, a copy of that player target with the applet appended. The output path is the
#   target property QV_APPLET_FILE. DEPENDS names files the source links with `.link`, so that
#   changing them rebuilds the applet.
#
# qv_add_applet_tests(<dir>)
#   Every folder <dir>/<test>/ that holds main.qvasm and expected.txt becomes the CTest test
#   "applet.<test>" (label e2e). The applet is assembled at build time; the test copies it as
#   main.qva and the folder's other files (its inputs) into a fresh run directory, runs
#     quillvane main.qva -QUIET -DEBUGDEVICE ::file<run dir>/output.txt
#   there, and compares what the player wrote with expected.txt byte for byte. The player may
#   exit with 0 or 1 (an applet may end in a reported error); anything else fails the test.
#   Without a target `quillvane` nothing is added, so call it after the player is defined (the
#   top-level CMakeLists.txt adds tests/ last). Use, in tests/applets/CMakeLists.txt:
#     qv_add_applet_tests(${CMAKE_CURRENT_SOURCE_DIR})
#
# Run with `cmake -P` this file is the test driver that qv_add_applet_tests registers.

if(CMAKE_SCRIPT_MODE_FILE)
  foreach(var QV_PLAYER QV_APPLET QV_SOURCE_DIR QV_RUN_DIR)
    if(NOT DEFINED ${var})
      message(FATAL_ERROR "${var} is not set")
    endif()
  endforeach()
  file(REMOVE_RECURSE ${QV_RUN_DIR})
  file(MAKE_DIRECTORY ${QV_RUN_DIR})
  file(COPY ${QV_SOURCE_DIR}/ DESTINATION ${QV_RUN_DIR}
       PATTERN main.qvasm EXCLUDE PATTERN expected.txt EXCLUDE)
  file(COPY_FILE ${QV_APPLET} ${QV_RUN_DIR}/main.qva)
  set(output ${QV_RUN_DIR}/output.txt)
  execute_process(
    COMMAND ${QV_PLAYER} main.qva -QUIET -DEBUGDEVICE ::file${output}
    WORKING_DIRECTORY ${QV_RUN_DIR}
    RESULT_VARIABLE status
    TIMEOUT 100)
  if(NOT status MATCHES "^[01]$")
    message(FATAL_ERROR "the player ended with '${status}'")
  endif()
  if(NOT EXISTS ${output})
    message(FATAL_ERROR "the player wrote no output (exit status ${status})")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${QV_SOURCE_DIR}/expected.txt ${output}
                  RESULT_VARIABLE differs)
  if(differs)
    file(READ ${QV_SOURCE_DIR}/expected.txt expected)
    file(READ ${output} actual)
    message(FATAL_ERROR "output differs (exit status ${status})\n"
                        "--- expected\n${expected}\n--- actual\n${actual}")
  endif()
  return()
endif()

include_guard(GLOBAL)

function(qv_add_applet name source)
  cmake_parse_arguments(ARG "COMPRESS" "LINK_INTO" "DEPENDS" ${ARGN})
  get_filename_component(source ${source} ABSOLUTE)
  set(args --applet ${source})
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${name}.qva)
  set(deps ${source} ${ARG_DEPENDS} qvasm_cli)
  if(ARG_COMPRESS)
    list(APPEND args --compress)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${name}.qvz)
  endif()
  if(ARG_LINK_INTO)
    list(APPEND args --link-into $<TARGET_FILE:${ARG_LINK_INTO}>)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${name}-player)
    list(APPEND deps ${ARG_LINK_INTO})
  endif()
  add_custom_command(
    OUTPUT ${out}
    COMMAND qvasm_cli ${args} -o ${out}
    DEPENDS ${deps}
    COMMENT "Assembling applet ${name}"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${out})
  set_target_properties(${name} PROPERTIES QV_APPLET_FILE ${out})
endfunction()

function(qv_add_applet_tests dir)
  if(NOT TARGET quillvane)
    return()
  endif()
  file(GLOB entries LIST_DIRECTORIES true CONFIGURE_DEPENDS ${dir}/*)
  list(SORT entries)
  foreach(entry ${entries})
    if(NOT IS_DIRECTORY ${entry} OR NOT EXISTS ${entry}/main.qvasm OR NOT EXISTS ${entry}/expected.txt)
      continue()
    endif()
    get_filename_component(test ${entry} NAME)
    file(GLOB inputs CONFIGURE_DEPENDS ${entry}/*)
    qv_add_applet(applet_${test} ${entry}/main.qvasm DEPENDS ${inputs})
    add_test(NAME applet.${test}
             COMMAND ${CMAKE_COMMAND}
                     -DQV_PLAYER=$<TARGET_FILE:quillvane>
                     -DQV_APPLET=${CMAKE_CURRENT_BINARY_DIR}/applet_${test}.qva
                     -DQV_SOURCE_DIR=${entry}
                     -DQV_RUN_DIR=${CMAKE_CURRENT_BINARY_DIR}/applet_runs/${test}
                     -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE})
    set_tests_properties(applet.${test} PROPERTIES LABELS e2e TIMEOUT 120)
  endforeach()
endfunction()
