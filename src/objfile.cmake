add_library(orvobj STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Assert.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Messages.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Trace.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TextUtil.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Banner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FileInfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CommandArgs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SafeFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FileBytes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ParallelWork.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Data.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CoffRecords.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CoffPrint.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Coff.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CoffReader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CoffVerify.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CoffWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Archive.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ArchiveRead.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ObjectsAhead.cpp
)
target_include_directories(orvobj PUBLIC ${CMAKE_CURRENT_LIST_DIR})
# The readers parse many inputs at once.
find_package(Threads REQUIRED)
target_link_libraries(orvobj PUBLIC Threads::Threads)
