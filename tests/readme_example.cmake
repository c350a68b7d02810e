# Runs the README's library example on a copy of the example configuration
# and checks that the README still shows the example's code verbatim.
file(READ "${EXAMPLE_SOURCE}" source)
file(READ "${README}" readme)
string(FIND "${readme}" "${source}" at)
if(at EQUAL -1)
    message(FATAL_ERROR "README.md does not show ${EXAMPLE_SOURCE} verbatim")
endif()

set(copy "${WORK_DIR}/readme_example.ini")
file(WRITE "${copy}" "; pause\n[settings]\nms = 250 ; milliseconds\n")
execute_process(COMMAND "${EXAMPLE}" "${copy}" RESULT_VARIABLE status OUTPUT_VARIABLE printed)
file(READ "${copy}" saved)
set(expected "; pause\n[settings]\nms = 500 ; milliseconds\nnote = \"doubled; was 500\"\n")
if(NOT status EQUAL 0 OR NOT printed STREQUAL expected OR NOT saved STREQUAL expected)
    message(FATAL_ERROR "status ${status}\nprinted:\n${printed}\nsaved:\n${saved}\nexpected:\n${expected}")
endif()
