# Makes Scribbet.app whole and signs it: copies every library the program links from outside the
# system (Homebrew's uriparser and utf8proc, and whatever they link) into Contents/Frameworks,
# points the program and the copies at those copies, and signs from the inside out, each library
# before the bundle that seals them. Run by cmake -P after every link of the bundle:
#
#   cmake -DAPP=Scribbet.app -DEXECUTABLE=Scribbet.app/Contents/MacOS/Scribbet
#         -DENTITLEMENTS=Scribbet.entitlements [-DIDENTITY=-] -P BundleLibraries.cmake
#
# IDENTITY is codesign's: "-" (the default) signs ad hoc. An ad hoc signature has no Team ID, and
# the hardened runtime's library validation refuses a library whose signature has none, even in
# an app that has none either, so an ad hoc bundle is signed without the hardened runtime: it
# runs on the Mac it was built on and is never notarized, which is what the runtime is for. With
# a Developer ID the libraries carry the app's own Team ID and the runtime is switched on.
#
# OTOOL, INSTALL_NAME_TOOL and CODESIGN name the tools (defaults: the Xcode command-line tools'),
# and the CMAKE_GET_RUNTIME_DEPENDENCIES_* variables may be given, so that the steps can be run
# and checked away from a Mac.
cmake_minimum_required(VERSION 3.21)

foreach(required APP EXECUTABLE ENTITLEMENTS)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "BundleLibraries.cmake needs -D${required}=...")
  endif()
endforeach()
if(NOT DEFINED IDENTITY)
  set(IDENTITY -)
endif()
foreach(tool OTOOL INSTALL_NAME_TOOL CODESIGN)
  if(NOT DEFINED ${tool})
    string(TOLOWER ${tool} ${tool})
  endif()
endforeach()

set(frameworks ${APP}/Contents/Frameworks)
set(bundled_prefix @executable_path/../Frameworks)
# What every Mac has: nothing of it is copied, and the program may point at it.
set(system_regexes "^/usr/lib/" "^/System/Library/")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command} failed (${rc}): ${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

# The install names a Mach-O file loads, as `otool -L` lists them: its own name first when it is
# a library (skipped: that one is set with -id).
function(linked_names file out)
  run(${OTOOL} -L ${file})
  string(REPLACE "\n" ";" lines "${run_output}")
  get_filename_component(own ${file} NAME)
  set(names "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]+(.+) \\(compatibility version")
      set(name "${CMAKE_MATCH_1}")
      get_filename_component(base "${name}" NAME)
      if(NOT "${file}" STREQUAL "${EXECUTABLE}" AND base STREQUAL own AND NOT names)
        continue()
      endif()
      list(APPEND names "${name}")
    endif()
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

function(is_system name out)
  set(${out} FALSE PARENT_SCOPE)
  foreach(regex IN LISTS system_regexes)
    if(name MATCHES "${regex}")
      set(${out} TRUE PARENT_SCOPE)
    endif()
  endforeach()
endfunction()

# 1. What to copy: CMake's own reading of the load commands, with @rpath and @loader_path
#    resolved, library by library down to the system.
file(GET_RUNTIME_DEPENDENCIES
  EXECUTABLES ${EXECUTABLE}
  RESOLVED_DEPENDENCIES_VAR libraries
  UNRESOLVED_DEPENDENCIES_VAR unresolved
  CONFLICTING_DEPENDENCIES_PREFIX conflicting
  PRE_EXCLUDE_REGEXES ${system_regexes} "^@executable_path/"
  POST_EXCLUDE_REGEXES ${system_regexes})
if(unresolved)
  message(FATAL_ERROR "Scribbet links ${unresolved}, which is not on this Mac: install it (brew install ...) and build again.")
endif()
if(conflicting_FILENAMES)
  message(FATAL_ERROR "Scribbet links two different copies of ${conflicting_FILENAMES}: the bundle can hold one.")
endif()

# 2. The copies, under the names the program loads them by; a copy left by an earlier build is
#    replaced, since the program was linked again and may link something else now.
file(REMOVE_RECURSE ${frameworks})
set(bundled "")
set(bundled_files "")
foreach(library IN LISTS libraries)
  get_filename_component(name ${library} NAME)
  file(REAL_PATH ${library} real)
  file(MAKE_DIRECTORY ${frameworks})
  file(COPY_FILE ${real} ${frameworks}/${name})
  # Homebrew installs its libraries read-only; install_name_tool writes into the copy.
  file(CHMOD ${frameworks}/${name} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  list(APPEND bundled ${name})
  list(APPEND bundled_files ${frameworks}/${name})
endforeach()

# 3. Every reference outside the system now points into the bundle.
foreach(file ${EXECUTABLE} ${bundled_files})
  linked_names(${file} names)
  set(changes "")
  foreach(name IN LISTS names)
    is_system("${name}" system)
    get_filename_component(base "${name}" NAME)
    if(system OR name STREQUAL "${bundled_prefix}/${base}")
      continue()
    endif()
    if(NOT base IN_LIST bundled)
      message(FATAL_ERROR "${file} loads ${name}, which was not copied into the bundle.")
    endif()
    list(APPEND changes -change ${name} ${bundled_prefix}/${base})
  endforeach()
  if(NOT "${file}" STREQUAL "${EXECUTABLE}")
    get_filename_component(base ${file} NAME)
    list(PREPEND changes -id ${bundled_prefix}/${base})
  endif()
  if(changes)
    run(${INSTALL_NAME_TOOL} ${changes} ${file})
  endif()
endforeach()

# 4. Signed inside out: each library, then the bundle, whose signature seals them with the page
#    and the helper. Nothing is signed with --deep, which would sign the libraries with the
#    app's entitlements.
set(options "")
if(NOT IDENTITY STREQUAL "-")
  set(options --options runtime --timestamp)
endif()
foreach(file IN LISTS bundled_files)
  run(${CODESIGN} --force --sign ${IDENTITY} ${options} ${file})
endforeach()
run(${CODESIGN} --force --sign ${IDENTITY} ${options} --entitlements ${ENTITLEMENTS} ${APP})
list(LENGTH bundled count)
message(STATUS "Scribbet.app holds ${count} linked libraries (${bundled}), signed with identity ${IDENTITY}")
