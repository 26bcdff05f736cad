# Warnings are per target so that third-party headers stay out of them.
# -Wrestrict is off: GCC 12 reports std::string concatenation inlined at -O3 as an
# overlapping copy (a known false positive of that compiler), which would make the
# release build depend on inlining decisions.
function(orvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wold-style-cast -Wcast-align -Woverloaded-virtual
                                           -Wformat=2 -Wno-format-nonliteral
                                           $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
  if(ORVANE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# One static library per folder; sources are the folder's own .cpp files.
# A folder without sources yet gives an interface library, so targets can name it.
function(orvane_library target dir)
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    orvane_warnings(${target})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
  endif()
endfunction()

# Links a folder's library, whichever kind orvane_library made of it.
function(orvane_link target)
  get_target_property(kind ${target} TYPE)
  if(kind STREQUAL "INTERFACE_LIBRARY")
    target_link_libraries(${target} INTERFACE ${ARGN})
  else()
    target_link_libraries(${target} PUBLIC ${ARGN})
  endif()
endfunction()

# One GoogleTest executable per test folder; none until the folder has sources.
function(orvane_test target dir)
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${target} ${sources})
  target_link_libraries(${target} PRIVATE ${ARGN} GTest::gtest GTest::gmock GTest::gtest_main)
  orvane_warnings(${target})
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()

# A folder's Qt library: its own .cpp files and headers (so AUTOMOC sees every
# Q_OBJECT), linked to Qt Widgets. Qt's keywords are off in every Qt target, so
# "signals" and "slots" never collide with Boost.Signals2: use Q_SIGNALS, Q_SLOTS
# and Q_EMIT.
function(orvane_qt_library target dir)
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h)
  add_library(${target} STATIC ${sources})
  set_target_properties(${target} PROPERTIES AUTOMOC ON)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC Qt6::Widgets)
  target_compile_definitions(${target} PUBLIC QT_NO_KEYWORDS)
  orvane_warnings(${target})
endfunction()

# One Qt Test executable per test folder. Each XTest.cpp holds the test class
# XTest; every class is its own CTest test (the executable runs the class named
# by its first argument) on the offscreen platform.
function(orvane_qt_test target dir)
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h)
  add_executable(${target} ${sources} ${PROJECT_SOURCE_DIR}/tests/ui/support/UiTestMain.cpp)
  set_target_properties(${target} PROPERTIES AUTOMOC ON)
  target_link_libraries(${target} PRIVATE ${ARGN} Qt6::Test)
  orvane_warnings(${target})
  file(GLOB classes CONFIGURE_DEPENDS ${dir}/*Test.cpp)
  foreach(source ${classes})
    get_filename_component(class ${source} NAME_WE)
    add_test(NAME ${target}.${class} COMMAND ${target} ${class})
    set_tests_properties(${target}.${class} PROPERTIES TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endforeach()
endfunction()
