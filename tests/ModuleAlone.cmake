# cmake -DBINARY=<test binary> -DNM=<nm> -P ModuleAlone.cmake
# Fails when a module's test binary holds code of the plug-in's processor, its wrappers or any GUI:
# the engine and the sample bank must build and run without them.
execute_process(COMMAND "${NM}" -C --defined-only "${BINARY}" OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} could not read ${BINARY}")
endif()
string(REGEX MATCHALL "[^\n]*(juce::AudioProcessor::|juce::Component::|juce::LookAndFeel|juce::Desktop::|KestruneProcessor|KestruneEditor|createPluginFilter)[^\n]*" found "${symbols}")
list(LENGTH found count)
if(count GREATER 0)
    list(SUBLIST found 0 5 first)
    string(REPLACE ";" "\n  " first "${first}")
    message(FATAL_ERROR "${BINARY} holds ${count} symbols of the processor or the GUI, among them:\n  ${first}")
endif()
string(REGEX MATCHALL "[^\n]*(Engine::process|SampleBank|BinaryData::)[^\n]*" own "${symbols}")
if(NOT own)
    message(FATAL_ERROR "${BINARY} holds no engine, sample-bank or asset code: the check reads the wrong binary")
endif()
message(STATUS "${BINARY}: no processor or GUI code")
