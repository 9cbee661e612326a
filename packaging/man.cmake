# Renders one man page: cmake -DIN=page.1.scd -DOUT=page.1 -DVERSION=x.y.z
# -DSCDOC=/usr/bin/scdoc -P man.cmake. The source names the version as
# @VERSION@, so the page's footer follows the project's version.
cmake_minimum_required(VERSION 3.22)
file(READ ${IN} text)
string(REPLACE "@VERSION@" "${VERSION}" text "${text}")
file(WRITE ${OUT}.scd "${text}")
execute_process(COMMAND ${SCDOC} INPUT_FILE ${OUT}.scd OUTPUT_FILE ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "scdoc failed on ${IN}")
endif()
