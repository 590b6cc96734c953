# Renders the man page as plain text: cmake -DNROFF=.. -DCOL=.. -DIN=.. -DOUT=.. -P
execute_process(COMMAND ${NROFF} -man -Tascii ${IN}
                COMMAND ${COL} -bx
                OUTPUT_FILE ${OUT}
                RESULTS_VARIABLE results)
if(NOT results STREQUAL "0;0")
  message(FATAL_ERROR "rendering ${IN} failed: ${results}")
endif()
