# The COD converter: the COD model and writer in src/cod, the conversion
# from a linked COFF file and the listing beside them.
file(GLOB ORVCOD_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/cod/*.cpp)
foreach(source Coff2Cod.cpp Listing.cpp SourceFiles.cpp StringTableIndex.cpp)
  if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/${source})
    list(APPEND ORVCOD_SOURCES ${CMAKE_CURRENT_LIST_DIR}/${source})
  endif()
endforeach()
add_library(orvcod STATIC ${ORVCOD_SOURCES})
target_include_directories(orvcod PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(orvcod PUBLIC orvobj)
# The processor model is defined after src/, so its presence is decided
# when the build is generated.
target_link_libraries(orvcod PUBLIC $<TARGET_NAME_IF_EXISTS:orvtarget>)
