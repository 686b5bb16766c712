# Copies an applet test folder, changes pixel (5, 3) of its expected-box.png to QV_PLANT ("r, g, b")
# with Pillow, writes QV_TOLERANCE to tolerance.txt when it is given, and runs the applet driver on
# the copy; prints what the driver said, and fails when the driver's verdict is not the one
# expected (it must fail unless QV_DRIVER_PASSES is set).
file(REMOVE_RECURSE ${QV_WORK_DIR})
file(MAKE_DIRECTORY ${QV_WORK_DIR})
file(COPY ${QV_SOURCE_DIR}/ DESTINATION ${QV_WORK_DIR}/folder)
if(DEFINED QV_TOLERANCE)
  file(WRITE ${QV_WORK_DIR}/folder/tolerance.txt "${QV_TOLERANCE}\n")
endif()
execute_process(
  COMMAND /usr/bin/python3 -c
          "import sys; from PIL import Image; im = Image.open(sys.argv[1]).convert('RGB'); im.putpixel((5, 3), (${QV_PLANT})); im.save(sys.argv[1])"
          ${QV_WORK_DIR}/folder/expected-box.png
  RESULT_VARIABLE planted)
if(planted)
  message(FATAL_ERROR "Pillow could not plant the pixel")
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} -DQV_PLAYER=${QV_PLAYER} -DQV_APPLET=${QV_APPLET}
          -DQV_PNG_COMPARE=${QV_PNG_COMPARE} -DQV_SOURCE_DIR=${QV_WORK_DIR}/folder
          -DQV_RUN_DIR=${QV_WORK_DIR}/run -P ${QV_DRIVER}
  RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")
if(QV_DRIVER_PASSES AND failed)
  message(FATAL_ERROR "the driver refused a pixel within the tolerance")
elseif(NOT QV_DRIVER_PASSES AND NOT failed)
  message(FATAL_ERROR "the driver accepted the planted pixel")
endif()
