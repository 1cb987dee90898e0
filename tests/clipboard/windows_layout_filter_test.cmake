# quillmore-layout.exe under Wine: the filter must read and write bytes, not
# text. In text mode the C run-time would stop reading at a Ctrl-Z and write
# every LF of the output as CR LF; both would show in the result here.
#
# cmake -DEMULATOR=wine -DFILTER=quillmore-layout.exe -DWORK=dir -P this
string(ASCII 13 cr)
string(ASCII 10 lf)
string(ASCII 26 ctrl_z)
set(input "select a,${ctrl_z}b${cr}${lf}from t where x = 1 and y = 2${lf}")
set(expected
    "select a,${cr}${lf}       ${ctrl_z}b${cr}${lf}  from t${cr}${lf}where x = 1${cr}${lf}  and y = 2 ")

file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/input.sql "${input}")
execute_process(
  COMMAND ${EMULATOR} ${FILTER}
  INPUT_FILE ${WORK}/input.sql
  OUTPUT_FILE ${WORK}/output.sql
  ERROR_VARIABLE errors
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "quillmore-layout.exe failed (${status}): ${errors}")
endif()
file(WRITE ${WORK}/expected.sql "${expected}")
file(READ ${WORK}/output.sql output HEX)
file(READ ${WORK}/expected.sql wanted HEX)
if(NOT output STREQUAL wanted)
  message(FATAL_ERROR "quillmore-layout.exe wrote\n  ${output}\nexpected\n  ${wanted}")
endif()
