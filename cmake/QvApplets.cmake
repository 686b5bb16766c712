# Applets assembled from qvasm text at build time, and end-to-end tests that run them.
#
# qv_add_applet(<name> <source.qvasm> [COMPRESS] [LINK_INTO <player target>] [DEPENDS <file>...])
#   Target <name> (built by default) assembles the source (the assembler's text form, or the
#   script notation for a source named *.qvs) with the qvasm CLI into
#   <current binary dir>/<name>.qva, or <name>.qvz with COMPRESS; with LINK_INTO the output is
#   <name>-player, a copy of that player target with the applet appended. The output path is the
#   target property QV_APPLET_FILE. DEPENDS names files the source links with `.link`, so that
#   changing them rebuilds the applet.
#
# qv_add_applet_tests(<dir>)
#   Every folder <dir>/<library>/<command>/ (or <command>_<case>/) becomes the CTest test
#   "applet.<library>.<command>" (label e2e); it must hold expected.txt and one program: main.qvs
#   (the script notation of tools/qvasm/qvasm.h) or main.qvasm (the assembler's text form). The
#   configure step fails for a folder that does not, or for an applet directly in <dir>/<library>/.
#   The applet is assembled at build time; the test copies it as main.qva and the folder's other
#   files (its inputs) into a fresh run directory, runs
#     quillvane main.qva -QUIET -DEBUGDEVICE ::file<run dir>/output.txt
#   there, and compares what the player wrote with expected.txt byte for byte. The player's exit
#   status must be the number in the folder's expected_status.txt, or 0 without that file (1 for
#   an applet that ends in a reported error).
#   The player runs without DISPLAY, WAYLAND_DISPLAY, SDL_VIDEODRIVER and the QUILLVANE_REQUESTER_
#   variables, so that nothing is shown (its windows are headless); a folder's env.txt sets
#   variables for it, one NAME=VALUE a line (SDL_VIDEODRIVER=dummy for SDL's windows), where
#   @RUN_DIR@ stands for the run directory. stdin.txt, when present, is its standard input. Every
#   file expected-<name> is compared byte for byte with the file <name> of the run directory,
#   except pictures: expected-<name>.png is compared pixel by pixel with <name>.png by the tool
#   tools/pngcompare (libpng's reading of both, not the player's), exactly or, when the folder has
#   tolerance.txt, within the number it holds for each channel of a pixel; a difference is reported
#   with the count of differing pixels and the first of them (position, expected and actual ARGB).
#   Without a target `quillvane` nothing is added, so call it after the player is defined (the
#   top-level CMakeLists.txt adds tests/ last). Use, in tests/applets/CMakeLists.txt:
#     qv_add_applet_tests(${CMAKE_CURRENT_SOURCE_DIR})
#
# Run with `cmake -P` this file is the test driver that qv_add_applet_tests registers.

if(CMAKE_SCRIPT_MODE_FILE)
  # QV_PNG_COMPARE (the pngcompare tool) is needed only by folders that expect pictures.
  foreach(var QV_PLAYER QV_APPLET QV_SOURCE_DIR QV_RUN_DIR)
    if(NOT DEFINED ${var})
      message(FATAL_ERROR "${var} is not set")
    endif()
  endforeach()
  set(expected_status 0)
  if(EXISTS ${QV_SOURCE_DIR}/expected_status.txt)
    file(READ ${QV_SOURCE_DIR}/expected_status.txt expected_status)
    string(STRIP "${expected_status}" expected_status)
    if(NOT expected_status MATCHES "^[0-9]+$")
      message(FATAL_ERROR "expected_status.txt holds '${expected_status}', not an exit status")
    endif()
  endif()
  file(REMOVE_RECURSE ${QV_RUN_DIR})
  file(MAKE_DIRECTORY ${QV_RUN_DIR})
  file(COPY ${QV_SOURCE_DIR}/ DESTINATION ${QV_RUN_DIR}
       PATTERN main.qvasm EXCLUDE PATTERN main.qvs EXCLUDE PATTERN expected.txt EXCLUDE
       PATTERN expected_status.txt EXCLUDE PATTERN expected-* EXCLUDE PATTERN env.txt EXCLUDE
       PATTERN stdin.txt EXCLUDE PATTERN tolerance.txt EXCLUDE)
  file(COPY_FILE ${QV_APPLET} ${QV_RUN_DIR}/main.qva)
  set(output ${QV_RUN_DIR}/output.txt)
  set(env --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=SDL_VIDEODRIVER
          --unset=QUILLVANE_REQUESTER_SCRIPT --unset=QUILLVANE_REQUESTER_LOG)
  if(EXISTS ${QV_SOURCE_DIR}/env.txt)
    file(STRINGS ${QV_SOURCE_DIR}/env.txt lines)
    foreach(line ${lines})
      string(REPLACE "@RUN_DIR@" "${QV_RUN_DIR}" line "${line}")
      list(APPEND env "${line}")
    endforeach()
  endif()
  set(input)
  if(EXISTS ${QV_SOURCE_DIR}/stdin.txt)
    set(input INPUT_FILE ${QV_SOURCE_DIR}/stdin.txt)
  endif()
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env ${env} ${QV_PLAYER} main.qva -QUIET -DEBUGDEVICE ::file${output}
    WORKING_DIRECTORY ${QV_RUN_DIR}
    RESULT_VARIABLE status
    ${input}
    TIMEOUT 100)
  set(actual "")
  if(EXISTS ${output})
    file(READ ${output} actual)
  endif()
  if(NOT status STREQUAL expected_status)
    message(FATAL_ERROR "the player ended with '${status}', not ${expected_status}\n"
                        "--- output\n${actual}")
  endif()
  if(NOT EXISTS ${output})
    message(FATAL_ERROR "the player wrote no output (exit status ${status})")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${QV_SOURCE_DIR}/expected.txt ${output}
                  RESULT_VARIABLE differs)
  if(differs)
    file(READ ${QV_SOURCE_DIR}/expected.txt expected)
    message(FATAL_ERROR "output differs (exit status ${status})\n"
                        "--- expected\n${expected}\n--- actual\n${actual}")
  endif()
  set(tolerance 0)
  if(EXISTS ${QV_SOURCE_DIR}/tolerance.txt)
    file(READ ${QV_SOURCE_DIR}/tolerance.txt tolerance)
    string(STRIP "${tolerance}" tolerance)
    if(NOT tolerance MATCHES "^[0-9]+$" OR tolerance GREATER 255)
      message(FATAL_ERROR "tolerance.txt holds '${tolerance}', not a channel difference 0-255")
    endif()
  endif()
  file(GLOB expected_files ${QV_SOURCE_DIR}/expected-*)
  foreach(expected_file ${expected_files})
    get_filename_component(name ${expected_file} NAME)
    string(REGEX REPLACE "^expected-" "" name "${name}")
    if(name MATCHES "\\.png$")
      if(NOT QV_PNG_COMPARE)
        message(FATAL_ERROR "QV_PNG_COMPARE is not set: ${name} cannot be compared")
      endif()
      if(NOT EXISTS ${QV_RUN_DIR}/${name})
        message(FATAL_ERROR "the script saved no ${name}\n--- output\n${actual}")
      endif()
      execute_process(COMMAND ${QV_PNG_COMPARE} ${expected_file} ${QV_RUN_DIR}/${name} ${tolerance}
                      RESULT_VARIABLE differs OUTPUT_VARIABLE report ERROR_VARIABLE report)
      if(differs)
        # The report goes out as written; an error message would be wrapped and indented.
        message("${report}")
        message(FATAL_ERROR "${name} differs from expected-${name}")
      endif()
      continue()
    endif()
    set(made "")
    if(EXISTS ${QV_RUN_DIR}/${name})
      file(READ ${QV_RUN_DIR}/${name} made)
    endif()
    file(READ ${expected_file} expected)
    if(NOT made STREQUAL expected)
      message(FATAL_ERROR "${name} differs\n--- expected\n${expected}\n--- actual\n${made}")
    endif()
  endforeach()
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
  file(GLOB libraries LIST_DIRECTORIES true CONFIGURE_DEPENDS ${dir}/*)
  list(SORT libraries)
  foreach(library_dir ${libraries})
    if(NOT IS_DIRECTORY ${library_dir})
      continue()
    endif()
    get_filename_component(library ${library_dir} NAME)
    if(EXISTS ${library_dir}/main.qvasm OR EXISTS ${library_dir}/main.qvs)
      message(FATAL_ERROR "${library_dir} holds an applet: command tests live in "
                          "${dir}/<library>/<command>/")
    endif()
    file(GLOB entries LIST_DIRECTORIES true CONFIGURE_DEPENDS ${library_dir}/*)
    list(SORT entries)
    foreach(entry ${entries})
      if(NOT IS_DIRECTORY ${entry})
        continue()
      endif()
      set(program)
      foreach(candidate main.qvs main.qvasm)
        if(EXISTS ${entry}/${candidate})
          list(APPEND program ${entry}/${candidate})
        endif()
      endforeach()
      list(LENGTH program programs)
      if(NOT programs EQUAL 1 OR NOT EXISTS ${entry}/expected.txt)
        message(FATAL_ERROR "${entry} is no applet test: it needs expected.txt and either "
                            "main.qvs or main.qvasm")
      endif()
      get_filename_component(command ${entry} NAME)
      set(test applet.${library}.${command})
      file(GLOB inputs CONFIGURE_DEPENDS ${entry}/*)
      qv_add_applet(${test} ${program} DEPENDS ${inputs})
      add_test(NAME ${test}
               COMMAND ${CMAKE_COMMAND}
                       -DQV_PLAYER=$<TARGET_FILE:quillvane>
                       -DQV_APPLET=$<TARGET_PROPERTY:${test},QV_APPLET_FILE>
                       -DQV_SOURCE_DIR=${entry}
                       -DQV_PNG_COMPARE=$<TARGET_FILE:pngcompare>
                       -DQV_RUN_DIR=${CMAKE_CURRENT_BINARY_DIR}/applet_runs/${library}/${command}
                       -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE})
      # Sound plays on SDL's dummy device: no sound card is needed.
      set_tests_properties(${test} PROPERTIES LABELS e2e TIMEOUT 120
                                              ENVIRONMENT "SDL_AUDIODRIVER=dummy")
    endforeach()
  endforeach()
endfunction()
