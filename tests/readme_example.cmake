# Runs a README example on a copy of BEFORE, checks that it leaves AFTER
# (and, when PRINTS is set, prints it too), and that the README still shows
# the example's code verbatim.
file(READ "${EXAMPLE_SOURCE}" source)
file(READ "${README}" readme)
string(FIND "${readme}" "${source}" at)
if(at EQUAL -1)
    message(FATAL_ERROR "README.md does not show ${EXAMPLE_SOURCE} verbatim")
endif()

get_filename_component(name "${EXAMPLE_SOURCE}" NAME_WE)
set(copy "${WORK_DIR}/${name}.ini")
configure_file("${BEFORE}" "${copy}" COPYONLY)
execute_process(COMMAND ${EMULATOR} "${EXAMPLE}" "${copy}" RESULT_VARIABLE status OUTPUT_VARIABLE printed)
file(READ "${copy}" saved)
file(READ "${AFTER}" expected)
if(NOT PRINTS)
    set(printed "${expected}")
endif()
if(NOT status EQUAL 0 OR NOT printed STREQUAL expected OR NOT saved STREQUAL expected)
    message(FATAL_ERROR "status ${status}\nprinted:\n${printed}\nsaved:\n${saved}\nexpected:\n${expected}")
endif()
