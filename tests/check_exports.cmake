# Fails unless the dynamic symbol table defines exactly InitModule and ReleaseModule (nm sorts by name).
execute_process(COMMAND nm -D --defined-only --format=just-symbols ${LIBRARY} OUTPUT_VARIABLE names
    OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
if(NOT names STREQUAL "InitModule\nReleaseModule")
    message(FATAL_ERROR "exported: ${names}; expected exactly InitModule and ReleaseModule")
endif()
