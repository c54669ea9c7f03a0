add_library(orvhex STATIC
  ${CMAKE_CURRENT_LIST_DIR}/HexRecords.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Hex.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HexCommandLine.cpp
)
target_link_libraries(orvhex PUBLIC orvobj)
