# Decoders built on packaged libraries: bzip2, LZMA, xz, Zstandard.
find_package(BZip2 REQUIRED)
pkg_check_modules(LIBLZMA REQUIRED IMPORTED_TARGET liblzma)
pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
target_sources(vellum_components PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/library_codecs.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bzip2_codec.cpp
    ${CMAKE_CURRENT_LIST_DIR}/lzma_codec.cpp
    ${CMAKE_CURRENT_LIST_DIR}/xz_blocks.cpp
    ${CMAKE_CURRENT_LIST_DIR}/xz_codec.cpp
    ${CMAKE_CURRENT_LIST_DIR}/zstd_codec.cpp
)
target_link_libraries(vellum_components PRIVATE BZip2::BZip2 PkgConfig::LIBLZMA PkgConfig::ZSTD)
