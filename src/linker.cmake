# The linker: the Linker and its phases (linker/), the memory target
# (memtarg/), and the parser, file-name tests, value classes and map file
# beside them. New files in linker/ and memtarg/ are picked up by the glob.
file(GLOB ORVLINKER_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/linker/*.cpp
  ${CMAKE_CURRENT_LIST_DIR}/memtarg/*.cpp)
foreach(source Parser.cpp ObjectFileNames.cpp SectionDesc.cpp StackDesc.cpp
               ScnAddr.cpp MapFile.cpp)
  if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/${source})
    list(APPEND ORVLINKER_SOURCES ${CMAKE_CURRENT_LIST_DIR}/${source})
  endif()
endforeach()
add_library(orvlinker STATIC ${ORVLINKER_SOURCES})
target_include_directories(orvlinker PUBLIC ${CMAKE_CURRENT_LIST_DIR})
# The processor model is defined after this file is read, and only once
# its sources exist; the name is resolved when the build is generated.
target_link_libraries(orvlinker PUBLIC orvobj $<TARGET_NAME_IF_EXISTS:orvtarget>)
