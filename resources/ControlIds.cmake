# cmake -DOUT=FILE -DTEMPLATES="a.dlg;b.dlg" -P ControlIds.cmake
# Writes the header that names the templates' ids for the code: for a template
# whose dialog line ends in `id Name`, a namespace NameControls with the
# template's id as kTemplate and one constant per control line ending in
# `id kSomething`. The file is rewritten only when its text changes, so a
# template's geometry can change without rebuilding the pages.
set(text "// Generated from resources/templates/*.dlg by resources/ControlIds.cmake.\n#pragma once\n")
foreach(dlg IN LISTS TEMPLATES)
  file(STRINGS "${dlg}" lines REGEX " id [A-Za-z_][A-Za-z0-9_]*[ \t\r]*$")
  set(body "")
  set(space "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^dialog ([0-9]+) .* id ([A-Za-z_][A-Za-z0-9_]*)[ \t\r]*$")
      set(space "${CMAKE_MATCH_2}Controls")
      string(APPEND body "inline constexpr int kTemplate = ${CMAKE_MATCH_1};\n")
    elseif(line MATCHES "^[a-z]+ (-?[0-9]+) .* id ([A-Za-z_][A-Za-z0-9_]*)[ \t\r]*$")
      string(APPEND body "inline constexpr int ${CMAKE_MATCH_2} = ${CMAKE_MATCH_1};\n")
    endif()
  endforeach()
  if(space)
    string(APPEND text "\nnamespace ${space} {\n${body}}  // namespace ${space}\n")
  elseif(body)
    message(FATAL_ERROR "${dlg}: named controls, but no `id Name` on the dialog line")
  endif()
endforeach()
file(CONFIGURE OUTPUT "${OUT}" CONTENT "${text}" @ONLY)
