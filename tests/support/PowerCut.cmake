# The power-cut file system (PowerCutFs) for the tests that claim a line or a
# record is on disk: the acquisition file's and the settings file's.
find_package(PkgConfig REQUIRED)
pkg_check_modules(FUSE3 REQUIRED IMPORTED_TARGET fuse3)
add_library(powercutfs STATIC ${CMAKE_CURRENT_LIST_DIR}/PowerCutFs.cpp)
target_include_directories(powercutfs PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(powercutfs PUBLIC PkgConfig::FUSE3 Threads::Threads)
foreach(test test_acquisition test_shell)
  if(TARGET ${test})
    target_link_libraries(${test} PRIVATE powercutfs)
  endif()
endforeach()
