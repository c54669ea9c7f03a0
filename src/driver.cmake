add_library(orvdriver STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Driver.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ChildProcess.cpp
)
target_link_libraries(orvdriver PUBLIC orvobj)
