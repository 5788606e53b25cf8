# Storage, resume record, segmented downloader and the driver.
kv_library(kvhttp
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/Bencode.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DownloadObj.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DownloadTaskManager.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HttpDownload.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PieceBitfield.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PositionedFile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RangeSet.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ResumeRecord.cpp
    ${CMAKE_CURRENT_LIST_DIR}/storage.cpp
    ${CMAKE_CURRENT_LIST_DIR}/multi_download.cpp
    ${CMAKE_CURRENT_LIST_DIR}/multi_download_io.cpp
    ${CMAKE_CURRENT_LIST_DIR}/multi_download_tick.cpp
    ${CMAKE_CURRENT_LIST_DIR}/detail/ContentRange.cpp
    ${CMAKE_CURRENT_LIST_DIR}/detail/PathText.cpp
    ${CMAKE_CURRENT_LIST_DIR}/detail/UrlText.cpp
  DEPS kv_kvhttp_net kv::log Boost::system Boost::thread Boost::filesystem Boost::date_time
       Threads::Threads)
