find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

add_library(test_support STATIC support/ui.cpp)
target_link_libraries(test_support PUBLIC Qt6::Widgets Qt6::Test)

add_executable(dialog_tests
  support/qt_main.cpp
  components/conversions_test.cpp
  dialog/mainform_test.cpp
  plugin/settings_test.cpp)
target_link_libraries(dialog_tests PRIVATE rovandel_core test_support GTest::gtest)
gtest_discover_tests(dialog_tests DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# The module as hosts load it: through dlopen, never linked.
add_executable(module_tests support/qt_main.cpp plugin/test_host.cpp plugin/module_test.cpp
  plugin/reliability_test.cpp)
target_link_libraries(module_tests PRIVATE rovandel_terrain rovandel_components test_support GTest::gtest ${CMAKE_DL_LIBS})
target_compile_definitions(module_tests PRIVATE ROVANDEL_MODULE="$<TARGET_FILE:rovandel>")
add_dependencies(module_tests rovandel)
gtest_discover_tests(module_tests DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

add_executable(nonqt_host_test support/plain_main.cpp plugin/test_host.cpp
  plugin/nonqt_host_test.cpp)
target_link_libraries(nonqt_host_test PRIVATE test_support GTest::gtest ${CMAKE_DL_LIBS})
target_compile_definitions(nonqt_host_test PRIVATE ROVANDEL_MODULE="$<TARGET_FILE:rovandel>")
add_dependencies(nonqt_host_test rovandel)
add_test(NAME NonQtHost COMMAND nonqt_host_test)

add_test(NAME ModuleExportsExactlyTheContract
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/plugin/check_symbols.sh $<TARGET_FILE:rovandel>)

add_executable(host_tests support/qt_main.cpp host/host_test.cpp)
target_link_libraries(host_tests PRIVATE kelvamor_host_lib rovandel_terrain test_support GTest::gtest)
target_compile_definitions(host_tests PRIVATE ROVANDEL_MODULE="$<TARGET_FILE:rovandel>"
                           KELVAMOR_HOST="$<TARGET_FILE:kelvamor-host>")
add_dependencies(host_tests rovandel kelvamor-host)
gtest_discover_tests(host_tests DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

add_executable(alloc_fault_test support/plain_main.cpp plugin/test_host.cpp
  plugin/alloc_fault_test.cpp)
target_link_libraries(alloc_fault_test PRIVATE test_support GTest::gtest ${CMAKE_DL_LIBS})
target_compile_definitions(alloc_fault_test PRIVATE ROVANDEL_MODULE="$<TARGET_FILE:rovandel>")
add_dependencies(alloc_fault_test rovandel)
gtest_discover_tests(alloc_fault_test DISCOVERY_TIMEOUT 60)
