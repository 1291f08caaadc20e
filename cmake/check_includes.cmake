cmake_minimum_required(VERSION 3.25)
# Fails the build when a folder includes one on a higher floor, Qt Widgets outside the pages and
# the folder tree, or when trash/ or recycle/ unlinks, renames or links outside trash/proven.cpp. Run with -DSOURCE_DIR=... -DWIDGETS_DIR=<QtWidgets include folder>.
#
# Floors, bottom up: platform; index and trash (side by side, neither sees the other); search;
# recycle; folders; app and cli at the top. A folder may include its own floor's and lower ones.
set(allowed_platform platform)
set(allowed_index platform index)
set(allowed_trash platform trash)
set(allowed_search platform index search)
set(allowed_recycle platform index trash recycle)
set(allowed_folders platform index folders)
set(allowed_app platform index trash search recycle folders app)
set(allowed_cli platform index trash search recycle cli)
set(widgets_allowed app folders)

file(GLOB widget_headers RELATIVE "${WIDGETS_DIR}" "${WIDGETS_DIR}/Q*")
set(failures "")
foreach(folder platform index trash search recycle folders app cli)
  file(GLOB_RECURSE sources "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
      if(line MATCHES "#[ \t]*include[ \t]*\"([a-z_]+)/")
        set(target "${CMAKE_MATCH_1}")
        if(NOT target IN_LIST allowed_${folder})
          string(APPEND failures "\n  ${source}: ${folder}/ may not include ${target}/")
        endif()
      elseif(line MATCHES "#[ \t]*include[ \t]*<(Q[A-Za-z]+)>")
        if(CMAKE_MATCH_1 IN_LIST widget_headers AND NOT folder IN_LIST widgets_allowed)
          string(APPEND failures "\n  ${source}: ${folder}/ may not use Qt Widgets (<${CMAKE_MATCH_1}>)")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

# In trash/ and recycle/ only trash/proven.cpp may unlink, rename or link a name: each of its
# primitives proves what it acts on first (see trash/proven.h).
set(name_calls "unlinkat|unlink|renameat2|renameat|rename|linkat|link|remove|symlinkat|symlink")
foreach(folder trash recycle)
  file(GLOB_RECURSE sources "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
  list(REMOVE_ITEM sources "${SOURCE_DIR}/trash/proven.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" lines)
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "//.*$" "" code "${line}")
      if(code MATCHES "(^|[^A-Za-z0-9_.>])(${name_calls})[ \t]*\\(")
        string(APPEND failures "\n  ${source}: calls ${CMAKE_MATCH_2}(); only the primitives of "
               "trash/proven.h may unlink, rename or link a name")
      endif()
    endforeach()
  endforeach()
endforeach()

if(failures)
  message(FATAL_ERROR "Include or name-call rules broken:${failures}")
endif()
