# Tests of storage, resume record, segmented downloader and driver.
foreach(_t storageTest BencodeTest RangeSetTest PieceBitfieldTest ResumeRecordTest)
  kv_test(kvhttp_${_t} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${_t}.cpp DEPS kv::kvhttp LABELS engine)
endforeach()
