# Every third-party library, found once for the whole tree. Each subsystem
# links only the imported targets it uses.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

pkg_check_modules(CDIO REQUIRED IMPORTED_TARGET libcdio libcdio_cdda libcdio_paranoia)
pkg_check_modules(VORBIS REQUIRED IMPORTED_TARGET vorbis vorbisenc ogg)
pkg_check_modules(FLAC REQUIRED IMPORTED_TARGET flac)
pkg_check_modules(TAGLIB REQUIRED IMPORTED_TARGET taglib)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil libswresample)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(GCRYPT REQUIRED IMPORTED_TARGET libgcrypt)
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)
pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)
pkg_check_modules(DISCID REQUIRED IMPORTED_TARGET libdiscid)
pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0)
pkg_check_modules(CUE REQUIRED IMPORTED_TARGET libcue)
# MusicBrainz and the CUETools database answer in XML; CRC-32 from libdeflate,
# its combination (for the CUETools ranges) from zlib.
pkg_check_modules(LIBXML2 REQUIRED IMPORTED_TARGET libxml-2.0)
pkg_check_modules(ZLIB REQUIRED IMPORTED_TARGET zlib)
pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)
find_package(CLI11 REQUIRED)
find_package(nlohmann_json REQUIRED)
if(QM_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
find_package(Qt6 REQUIRED COMPONENTS Core Widgets Test)

# LAME is opened at run time with dlopen; only its header is used here.
find_path(LAME_INCLUDE_DIR lame/lame.h REQUIRED)

# A static library per subsystem folder, built from every source in it.
function(qm_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()

# One test program per subsystem folder, registered with CTest.
function(qm_test name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main GTest::gmock ${ARGN})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  # Where the sources, the build tree and the two programs are.
  target_compile_definitions(${name} PRIVATE
    QM_SOURCE_DIR="${PROJECT_SOURCE_DIR}" QM_BUILD_DIR="${PROJECT_BINARY_DIR}"
    QM_PROGRAM_DIR="${QM_PROGRAM_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()
include(GoogleTest)
