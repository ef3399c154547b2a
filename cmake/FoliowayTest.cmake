# folioway_add_test(<name> SOURCES <files...> [LIBS <targets...>] [GUI] [WEBENGINE] [TIMEOUT <s>])
# One QtTest executable registered with CTest. GUI tests run on the offscreen platform;
# WebEngine tests also get the sandbox switch they need when run as root.
function(folioway_add_test name)
  cmake_parse_arguments(T "GUI;WEBENGINE" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test folioway_testsupport ${T_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  set(env "QT_QPA_PLATFORM=offscreen" "LC_ALL=C.UTF-8" "FOLIOWAY_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
          "FOLIOWAY_BIN_DIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
  # Any window that holds the reading page starts the web engine, which needs the sandbox
  # switched off when the tests run as root.
  list(APPEND env "QTWEBENGINE_DISABLE_SANDBOX=1")
  if(T_WEBENGINE)
    list(APPEND env "QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu --no-sandbox")
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${T_TIMEOUT})
endfunction()
