add_library(orvhex STATIC
  ${CMAKE_CURRENT_LIST_DIR}/HexRecords.cpp
)
target_link_libraries(orvhex PUBLIC orvobj)
