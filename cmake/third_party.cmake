# zlib, minizip (zlib's contrib/minizip) and tinyxml2, compiled from the sources
# that scripts/setup.sh unpacks from Debian's source packages.
set(ZLIB_SOURCE_DIR ${THIRD_PARTY_DIR}/zlib)
set(MINIZIP_SOURCE_DIR ${ZLIB_SOURCE_DIR}/contrib/minizip)
set(TINYXML2_SOURCE_DIR ${THIRD_PARTY_DIR}/tinyxml2)

foreach(required IN ITEMS ${MINIZIP_SOURCE_DIR}/unzip.c ${TINYXML2_SOURCE_DIR}/tinyxml2.cpp)
  if(NOT EXISTS ${required})
    message(FATAL_ERROR "${required} is missing: run scripts/setup.sh first")
  endif()
endforeach()

# zlib: the cross toolchain's static library when there is one (Debian's
# libz-mingw-w64-dev), otherwise the same sources compiled here (MSVC). Only
# libz.a will do: find_package(ZLIB) would take the import library of
# zlib1.dll, which a stock Windows does not have.
if(NOT MSVC)
  find_library(ZLIB_STATIC_LIBRARY NAMES libz.a)
  find_path(ZLIB_STATIC_INCLUDE_DIR zlib.h)
endif()
if(ZLIB_STATIC_LIBRARY AND ZLIB_STATIC_INCLUDE_DIR)
  add_library(third_party_zlib STATIC IMPORTED)
  set_target_properties(third_party_zlib PROPERTIES
    IMPORTED_LOCATION ${ZLIB_STATIC_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${ZLIB_STATIC_INCLUDE_DIR})
else()
  file(GLOB zlib_sources ${ZLIB_SOURCE_DIR}/*.c)
  add_library(third_party_zlib STATIC ${zlib_sources})
  target_include_directories(third_party_zlib PUBLIC ${ZLIB_SOURCE_DIR})
  if(MSVC)
    target_compile_definitions(third_party_zlib PRIVATE _CRT_SECURE_NO_WARNINGS)
  endif()
endif()

add_library(third_party_minizip STATIC
  ${MINIZIP_SOURCE_DIR}/unzip.c
  ${MINIZIP_SOURCE_DIR}/ioapi.c)
target_include_directories(third_party_minizip SYSTEM PUBLIC ${MINIZIP_SOURCE_DIR})
target_link_libraries(third_party_minizip PUBLIC third_party_zlib)
target_compile_definitions(third_party_minizip PRIVATE _CRT_SECURE_NO_WARNINGS)
if(NOT MSVC)
  target_compile_options(third_party_minizip PRIVATE -w)
endif()

add_library(third_party_tinyxml2 STATIC ${TINYXML2_SOURCE_DIR}/tinyxml2.cpp)
target_include_directories(third_party_tinyxml2 SYSTEM PUBLIC ${TINYXML2_SOURCE_DIR})
if(NOT MSVC)
  target_compile_options(third_party_tinyxml2 PRIVATE -w)
endif()
