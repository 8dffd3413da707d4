# Scribbet.app: the macOS program as an application bundle. Included from the top-level
# CMakeLists.txt on Apple systems only, after the core library exists.
#
#   Scribbet.app/Contents/Info.plist                  resources/mac/Info.plist.in, configured
#   Scribbet.app/Contents/MacOS/Scribbet              the Objective-C++ adapters and the mac entry
#   Scribbet.app/Contents/Resources/web/              the drawing page (web/)
#   Scribbet.app/Contents/Resources/Scribbet.scpt     the ribbon helper: resources/Scribbet.applescript,
#                                                     compiled by osacompile into build/Scribbet.scpt
#   Scribbet.app/Contents/Frameworks/                 the libraries it links from outside the system
#                                                     (uriparser, utf8proc), loaded from there
#
# After every link cmake/BundleLibraries.cmake copies those libraries in and signs the bundle
# from the inside out with resources/mac/Scribbet.entitlements, ad hoc unless
# SCRIBBET_SIGN_IDENTITY names a Developer ID; anything that goes into the bundle relinks it, so
# the signature always covers what the bundle holds, and the app runs on a Mac without Homebrew.

enable_language(OBJCXX)

# The target is not called "Scribbet": on a case-insensitive disk (the Mac's default) its build
# folder would be the Linux program's (CMakeFiles/scribbet.dir). The bundle's name is its output name.
set(SCRIBBET_BUNDLE_NAME Scribbet)

# Homebrew's headers are not on Apple clang's default path on Apple silicon (/opt/homebrew), and
# asio is header-only with nothing to point at them.
find_path(SCRIBBET_ASIO_INCLUDE_DIR asio.hpp REQUIRED)
target_include_directories(scribbet_core SYSTEM PUBLIC ${SCRIBBET_ASIO_INCLUDE_DIR})

# The adapters join the bundle as they are written; the entry point once it exists.
file(GLOB SCRIBBET_MAC_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/adapters/mac/*.mm)
if(EXISTS ${PROJECT_SOURCE_DIR}/src/main/mac_main.mm)
  list(APPEND SCRIBBET_MAC_SOURCES ${PROJECT_SOURCE_DIR}/src/main/mac_main.mm)
else()
  message(STATUS "src/main/mac_main.mm not written yet: ${SCRIBBET_BUNDLE_NAME}.app cannot link")
endif()
if(NOT SCRIBBET_MAC_SOURCES)
  message(STATUS "No Objective-C++ sources yet: no ${SCRIBBET_BUNDLE_NAME}.app to build")
  return()
endif()

add_executable(scribbet_app MACOSX_BUNDLE ${SCRIBBET_MAC_SOURCES})
set_target_properties(scribbet_app PROPERTIES
  OUTPUT_NAME ${SCRIBBET_BUNDLE_NAME}
  MACOSX_BUNDLE_INFO_PLIST ${PROJECT_SOURCE_DIR}/resources/mac/Info.plist.in)
target_compile_options(scribbet_app PRIVATE $<$<COMPILE_LANGUAGE:OBJCXX>:-fobjc-arc>)
# Every framework the glue calls into is named: CMake, unlike Xcode, adds none of its own.
# Foundation and CoreFoundation for NS*/CF* calls, libobjc for the runtime's own functions
# (objc_*), ApplicationServices for AX*, CoreGraphics for CG*, Carbon for the Apple event
# constants (kAEGetURL and the like).
target_link_libraries(scribbet_app PRIVATE scribbet_mac scribbet_core
  "-framework AppKit" "-framework WebKit" "-framework Foundation" "-framework CoreFoundation"
  "-framework ApplicationServices" "-framework Carbon" "-framework CoreGraphics" objc)

# "-" signs ad hoc: the app then runs on the Mac that built it. A Developer ID
# ("Developer ID Application: ...") also switches the hardened runtime on.
set(SCRIBBET_SIGN_IDENTITY "-" CACHE STRING "codesign identity for Scribbet.app")

set(SCRIBBET_ENTITLEMENTS ${PROJECT_SOURCE_DIR}/resources/mac/Scribbet.entitlements)
# The helper's source is AppleScript text; the add-in calls the compiled script by its name,
# Scribbet.scpt. osacompile takes the output's kind from its extension (.scpt: a compiled script).
set(SCRIBBET_RIBBON_HELPER_SOURCE ${PROJECT_SOURCE_DIR}/resources/Scribbet.applescript)
set(SCRIBBET_RIBBON_HELPER ${PROJECT_BINARY_DIR}/Scribbet.scpt)
# A build folder configured before the helper was compiled holds a link to the source there
# instead; osacompile would write through it into the source tree.
add_custom_command(OUTPUT ${SCRIBBET_RIBBON_HELPER}
  COMMAND ${CMAKE_COMMAND} -E rm -f ${SCRIBBET_RIBBON_HELPER}
  COMMAND osacompile -o ${SCRIBBET_RIBBON_HELPER} ${SCRIBBET_RIBBON_HELPER_SOURCE}
  DEPENDS ${SCRIBBET_RIBBON_HELPER_SOURCE}
  COMMENT "Compiling the ribbon helper into Scribbet.scpt"
  VERBATIM)
add_custom_target(scribbet_ribbon_helper DEPENDS ${SCRIBBET_RIBBON_HELPER})
add_dependencies(scribbet_app scribbet_ribbon_helper)
file(GLOB_RECURSE SCRIBBET_WEB_FILES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/web/*)
# A changed page, helper, plist or entitlement relinks the bundle, which reruns the steps below.
set_property(TARGET scribbet_app APPEND PROPERTY LINK_DEPENDS
  ${SCRIBBET_WEB_FILES} ${SCRIBBET_RIBBON_HELPER} ${SCRIBBET_ENTITLEMENTS}
  ${PROJECT_SOURCE_DIR}/resources/mac/Info.plist.in ${PROJECT_SOURCE_DIR}/cmake/BundleLibraries.cmake)

# Signing comes last: the signature seals the resources as they are when it is made.
set(SCRIBBET_BUNDLE_RESOURCES $<TARGET_BUNDLE_CONTENT_DIR:scribbet_app>/Resources)
add_custom_command(TARGET scribbet_app POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${SCRIBBET_BUNDLE_RESOURCES}/web
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/web ${SCRIBBET_BUNDLE_RESOURCES}/web
  COMMAND ${CMAKE_COMMAND} -E rm -f ${SCRIBBET_BUNDLE_RESOURCES}/web/.keep
  COMMAND ${CMAKE_COMMAND} -E copy ${SCRIBBET_RIBBON_HELPER} ${SCRIBBET_BUNDLE_RESOURCES}/Scribbet.scpt
  COMMAND ${CMAKE_COMMAND} -DAPP=$<TARGET_BUNDLE_DIR:scribbet_app> -DEXECUTABLE=$<TARGET_FILE:scribbet_app>
          -DENTITLEMENTS=${SCRIBBET_ENTITLEMENTS} "-DIDENTITY=${SCRIBBET_SIGN_IDENTITY}"
          -P ${PROJECT_SOURCE_DIR}/cmake/BundleLibraries.cmake
  COMMENT "Filling and signing ${SCRIBBET_BUNDLE_NAME}.app"
  VERBATIM)
unset(SCRIBBET_BUNDLE_RESOURCES)
