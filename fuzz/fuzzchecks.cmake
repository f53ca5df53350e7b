# The readers' invariant checks, shared by the fuzzers and the regression test of their findings.
set(DUX_FUZZ_CHECK_DIR ${CMAKE_CURRENT_LIST_DIR})
set(DUX_HEX_CHECK_SOURCES
    ${DUX_FUZZ_CHECK_DIR}/hexreadchecker.cpp ${DUX_FUZZ_CHECK_DIR}/hexreadchecker.h
    ${DUX_FUZZ_CHECK_DIR}/guardedimage.cpp ${DUX_FUZZ_CHECK_DIR}/guardedimage.h
)
set(DUX_FRAME_CHECK_SOURCES ${DUX_FUZZ_CHECK_DIR}/framedecodechecker.cpp ${DUX_FUZZ_CHECK_DIR}/framedecodechecker.h)
