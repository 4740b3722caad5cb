# Decoders written here: Shrink, Reduce, Implode, Deflate64 and PPMd.
target_sources(vellum_components PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/own_codecs.cpp
    ${CMAKE_CURRENT_LIST_DIR}/deflate64_codec.cpp
    ${CMAKE_CURRENT_LIST_DIR}/deflate64_huffman.cpp
    ${CMAKE_CURRENT_LIST_DIR}/deflate64_inflater.cpp
    ${CMAKE_CURRENT_LIST_DIR}/implode_codec.cpp
    ${CMAKE_CURRENT_LIST_DIR}/implode_tree.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ppmd_allocator.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ppmd_codec.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ppmd_decode.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ppmd_model.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ppmd_restore.cpp
    ${CMAKE_CURRENT_LIST_DIR}/reduce_codec.cpp
    ${CMAKE_CURRENT_LIST_DIR}/shrink_codec.cpp
)
# The model updates of PPMd run once or more per output byte: worth the inlining -O3 allows.
set_source_files_properties(
    ${CMAKE_CURRENT_LIST_DIR}/ppmd_decode.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ppmd_model.cpp
    TARGET_DIRECTORY vellum_components
    PROPERTIES COMPILE_OPTIONS -O3)
