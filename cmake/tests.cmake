# One GoogleTest executable per area: tests/cpp/<area>_test.cpp.
find_package(GTest REQUIRED)
# Real files from other tools, read in place; tests skip when the folder is
# absent. A checkout that does not sit beside it (a worktree) names it here.
set(VZ_SHARED_DATA_DIR "${PROJECT_SOURCE_DIR}/../shared/data" CACHE PATH "Folder of the shared real-world samples")
file(GLOB VZ_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/cpp/*_test.cpp)
foreach(src ${VZ_TEST_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/cpp)
  target_link_libraries(${name} PRIVATE voridez_core GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE VZ_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
                                             VZ_SHARED_DATA_DIR="${VZ_SHARED_DATA_DIR}")
  vz_set_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS cpp)
endforeach()

if(VZ_BUILD_PYTHON)
  add_test(NAME pytest
           COMMAND ${Python_EXECUTABLE} -m pytest -q -p no:cacheprovider ${PROJECT_SOURCE_DIR}/tests/python)
  set_tests_properties(pytest PROPERTIES LABELS python
                       ENVIRONMENT "PYTHONPATH=${CMAKE_BINARY_DIR}/python;VZ_SHARED_DATA_DIR=${VZ_SHARED_DATA_DIR}")
endif()

# The core's folders are one-way layers (foundation < core < algorithms,
# analysis < io < manager); the toolkit sees no core header.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME layers COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/check_layers.py)
set_tests_properties(layers PROPERTIES LABELS layers)
