# The librarian: its command-line parser and the five library commands.
add_library(orvlibrarian STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ArParser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Archiver.cpp
)
target_include_directories(orvlibrarian PUBLIC ${CMAKE_CURRENT_LIST_DIR})
# isObjectFile and isLibraryFile live with the linker's parser.
target_link_libraries(orvlibrarian PUBLIC orvlinker orvobj)
