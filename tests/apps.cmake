find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

rovandel_library(test_support SOURCES support/ui.cpp
  DEPS rovandel_contract Qt6::Widgets Qt6::Test GTest::gtest)
target_compile_definitions(test_support PRIVATE
                           ROVANDEL_TEST_PICTURES="${CMAKE_CURRENT_SOURCE_DIR}/pictures")

# The test host reaches the built module as hosts do: through dlopen, never linked.
rovandel_library(test_host SOURCES plugin/test_host.cpp DEPS rovandel_contract)
target_compile_definitions(test_host PUBLIC ROVANDEL_MODULE="$<TARGET_FILE:rovandel>")
target_link_libraries(test_host PUBLIC test_support GTest::gtest ${CMAKE_DL_LIBS})
add_dependencies(test_host rovandel)

add_executable(dialog_tests
  support/qt_main.cpp
  components/conversions_test.cpp
  dialog/mainform_test.cpp
  plugin/settings_test.cpp)
target_link_libraries(dialog_tests PRIVATE rovandel_core test_support GTest::gtest)
rovandel_discover_tests(dialog_tests ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

add_executable(module_tests support/qt_main.cpp plugin/module_test.cpp
  plugin/reliability_test.cpp)
target_link_libraries(module_tests PRIVATE test_host rovandel_terrain rovandel_components)
rovandel_discover_tests(module_tests SLOW "ManyRuns.*:Monkey.*"
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
# The same cases again, all in one process, as a host that runs the module many times.
add_test(NAME ModuleTestsInOneProcess
  COMMAND module_tests --gtest_filter=-ManyRuns.*:Monkey.*)
set_tests_properties(ModuleTestsInOneProcess PROPERTIES LABELS fast
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# Before any host has handed the module a table: a process of its own.
add_executable(before_init_test support/plain_main.cpp plugin/before_init_test.cpp)
target_link_libraries(before_init_test PRIVATE test_host)
rovandel_discover_tests(before_init_test)

# Hosts that are not Qt programs: the module brings up its own application.
add_executable(nonqt_host_test support/plain_main.cpp plugin/nonqt_host_test.cpp)
target_link_libraries(nonqt_host_test PRIVATE test_host)
add_test(NAME NonQtHost COMMAND nonqt_host_test)
set_tests_properties(NonQtHost PROPERTIES LABELS fast)

add_executable(alloc_fault_test support/plain_main.cpp plugin/alloc_fault_test.cpp)
target_link_libraries(alloc_fault_test PRIVATE test_host)
rovandel_discover_tests(alloc_fault_test)

add_test(NAME DesktopEntryAndMimeTypes
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/packaging_check.sh ${PROJECT_SOURCE_DIR})
set_tests_properties(DesktopEntryAndMimeTypes PROPERTIES LABELS fast)

add_test(NAME Layering COMMAND python3 ${PROJECT_SOURCE_DIR}/scripts/check_layers.py)
set_tests_properties(Layering PROPERTIES LABELS fast)

add_test(NAME ModuleExportsExactlyTheContract
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/plugin/check_symbols.sh $<TARGET_FILE:rovandel>)
set_tests_properties(ModuleExportsExactlyTheContract PROPERTIES LABELS fast)

add_executable(host_tests support/qt_main.cpp support/host_fixtures.cpp host/host_test.cpp
  host/save_test.cpp host/batch_test.cpp host/window_test.cpp host/terrain_mesh_test.cpp)
target_link_libraries(host_tests PRIVATE kelvamor_cli kelvamor_ui rovandel_terrain test_support GTest::gtest)
target_compile_definitions(host_tests PRIVATE ROVANDEL_MODULE="$<TARGET_FILE:rovandel>"
                           KELVAMOR_HOST="$<TARGET_FILE:kelvamor-host>"
                           KELVAMOR_VERSION="${PROJECT_VERSION}"
                           README_PATH="${PROJECT_SOURCE_DIR}/README.md")
add_dependencies(host_tests rovandel kelvamor-host)
rovandel_discover_tests(host_tests SLOW "*Killed*:*Parallel*"
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# The 3D view needs OpenGL on a real display: Xvfb with Mesa's software renderer.
find_package(X11 REQUIRED)
add_executable(view_3d_tests support/qt_main.cpp support/host_fixtures.cpp support/x11_input.cpp
               host/view_3d_test.cpp)
target_link_libraries(view_3d_tests PRIVATE kelvamor_ui test_support GTest::gtest X11::X11)
target_compile_definitions(view_3d_tests PRIVATE ROVANDEL_MODULE="$<TARGET_FILE:rovandel>"
                           KELVAMOR_HOST="$<TARGET_FILE:kelvamor-host>")
add_dependencies(view_3d_tests rovandel)
add_test(NAME View3DUnderXvfb
  COMMAND xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb
          $<TARGET_FILE:view_3d_tests>)
if(ROVANDEL_SANITIZE)
  # Mesa unloads its driver before the leak check runs, so what the driver keeps cannot be
  # told from a leak of ours; the mesh code is leak-checked in host_tests.
  set_tests_properties(View3DUnderXvfb PROPERTIES ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0")
endif()
