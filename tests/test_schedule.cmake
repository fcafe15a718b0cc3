# Read by ctest after the discovered GoogleTest cases. Most cases wait on pseudo-terminals and
# simulated devices, not on the processor, so ctest runs many more at once than there are cores;
# the cases that hold the wall clock to a tight bound run alone, after the others.
foreach(test IN LISTS tavboot_tests_TESTS)
    if(test MATCHES "^(SerialPortTest\\.|SimDeviceTest\\.HangUpInEachPhaseEndsTheExchangeAtOnce$)")
        set_tests_properties("${test}" PROPERTIES LABELS tight-timing RUN_SERIAL TRUE)
    endif()
endforeach()
