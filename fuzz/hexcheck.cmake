# The HEX reader's invariant checks, shared by the fuzzer and the regression test of its findings.
set(DUX_HEX_CHECK_DIR ${CMAKE_CURRENT_LIST_DIR})
set(DUX_HEX_CHECK_SOURCES
    ${DUX_HEX_CHECK_DIR}/hexreadchecker.cpp ${DUX_HEX_CHECK_DIR}/hexreadchecker.h
    ${DUX_HEX_CHECK_DIR}/guardedimage.cpp ${DUX_HEX_CHECK_DIR}/guardedimage.h
)
